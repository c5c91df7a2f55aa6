// Two processes learning into one user's file at once lose no count.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <string>

#include "engine/builtin_spam_engine.h"
#include "test_messages.h"

namespace varnolt {
namespace {

constexpr int kPerProcess = 40;

// Runs in the child: learns its own messages, then leaves without running
// the parent's test machinery.
[[noreturn]] void LearnInChild(const std::string& path, int first_seed, bool spam) {
  int status = 0;
  try {
    BuiltinSpamEngine engine;
    testing::MailMaker mail;
    for (int seed = first_seed; seed < first_seed + kPerProcess; ++seed) {
      engine.Learn(path, mail.Header(spam, seed), mail.Body(spam, seed), spam);
      engine.Classify(path, mail.Header(!spam, seed), mail.Body(!spam, seed));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "child %d: %s\n", first_seed, e.what());
    status = 1;
  }
  _exit(status);
}

TEST(ConcurrencyTest, TwoProcessesLearningAtOnceLoseNoCount) {
  testing::TempFolder folder;
  const std::string path = folder.path().string() + "\\user.dat";
  pid_t children[2];
  for (int i = 0; i < 2; ++i) {
    children[i] = fork();
    ASSERT_GE(children[i], 0);
    if (children[i] == 0) LearnInChild(path, i * 1000, i == 1);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  BuiltinSpamEngine engine;
  const SpamCounts counts = engine.GetCounts(path);
  EXPECT_EQ(kPerProcess, counts.ham);
  EXPECT_EQ(kPerProcess, counts.spam);
}

}  // namespace
}  // namespace varnolt
