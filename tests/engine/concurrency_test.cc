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

// Runs in the child: moves messages from class to class (each move takes
// one from a total and its tokens' counts), refitting as corrections do.
[[noreturn]] void CorrectInChild(const std::string& path, int rounds) {
  int status = 0;
  try {
    BuiltinSpamEngine engine;
    testing::MailMaker mail;
    for (int round = 0; round < rounds; ++round) {
      for (int seed = 0; seed < 10; ++seed) {
        engine.Relearn(path, mail.Header(true, seed), mail.Body(true, seed), round % 2 == 1);
      }
      engine.LearnMessage(path, mail.Header(round % 2 == 0, 100 + round), mail.Body(round % 2 == 0, 100 + round),
                          round % 2 == 0);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    status = 1;
  }
  _exit(status);
}

TEST(ConcurrencyTest, AReaderSeesOneStateWhileAnotherProcessCorrects) {
  testing::TempFolder folder;
  const std::string path = folder.path().string() + "\\user.dat";
  BuiltinSpamEngine engine;  // one connection, kept between reads with the buckets it read
  testing::MailMaker mail;
  for (int seed = 0; seed < 20; ++seed) {
    engine.LearnMessage(path, mail.Header(seed % 2 == 0, 1000 + seed), mail.Body(seed % 2 == 0, 1000 + seed),
                        seed % 2 == 0);
  }
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) CorrectInChild(path, 30);
  int reads = 0, failures = 0;
  std::string first_failure;
  int status = 0;
  while (waitpid(writer, &status, WNOHANG) == 0) {
    for (int seed = 0; seed < 10; ++seed, ++reads) {
      try {
        engine.Peek(path, mail.Header(true, seed), mail.Body(true, seed));
      } catch (const ComError& error) {
        if (failures++ == 0) first_failure = error.description();
      }
    }
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(0, failures) << "of " << reads << " reads; the first: " << first_failure;
  EXPECT_GT(reads, 10);
}

}  // namespace
}  // namespace varnolt
