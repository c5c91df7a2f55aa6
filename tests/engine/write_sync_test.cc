// Which lessons may be lost in a crash: what the engine learns on its own
// commits without waiting where the store allows it; a user's correction and
// an administrator's lesson always wait. And a refit that fails after its
// lesson was committed takes nothing of the lesson back.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"
#include "engine/engine_errors.h"
#include "engine/linear_fit.h"
#include "platform/names/data_layout.h"
#include "support/forwarding_model_backend.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using engine::WriteSync;

// alice@example.org's model path in the folder, its domain folder made.
std::string AliceIn(const testing::TempFolder& folder) {
  fs::create_directories(folder.path() / "example.org");
  return UserDatabasePath(folder.path().string() + "\\", "example.org", "alice");
}

// An engine over alice's model, its writes recorded by backend.
class WriteSyncTest : public ::testing::Test {
 protected:
  WriteSyncTest() { options.models = backend; }

  testing::TempFolder folder;
  const std::string user = AliceIn(folder);
  testing::MailMaker mail;
  std::shared_ptr<testing::ForwardingModelBackend> backend = std::make_shared<testing::ForwardingModelBackend>();
  EngineOptions options;
};

TEST_F(WriteSyncTest, OnlyTheEnginesOwnLessonsMayBeLost) {
  options.domain_learning = true;
  options.auto_learn.enabled = true;
  BuiltinSpamEngine engine(options);
  // A model sure of both classes, so that a clear verdict is learned.
  for (int i = 0; i < 30; ++i) {
    engine.LearnMessage(user, mail.Header(true, i), mail.Body(true, i), true);
    engine.LearnMessage(user, mail.Header(false, i), mail.Body(false, i), false);
  }

  struct Case {
    const char* what;
    std::function<void()> act;
    WriteSync expected;
  };
  const std::vector<Case> cases = {
      {"train", [&] { engine.LearnMessage(user, mail.Header(true, 100), mail.Body(true, 100), true); },
       WriteSync::kWait},
      {"a trusted sender's mail", [&] { engine.Learn(user, mail.Header(false, 101), mail.Body(false, 101), false); },
       WriteSync::kMayLose},
      {"a user's correction", [&] { engine.Relearn(user, mail.Header(false, 101), mail.Body(false, 101), true); },
       WriteSync::kWait},
      {"its own clear verdict", [&] { engine.Score(user, mail.Header(true, 102), mail.Body(true, 102)); },
       WriteSync::kMayLose},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    backend->writes().clear();
    c.act();
    ASSERT_FALSE(backend->writes().empty());  // the user's model, and the domain's where it learns too
    for (WriteSync sync : backend->writes()) EXPECT_EQ(c.expected, sync);
  }
}

TEST_F(WriteSyncTest, ARefitThatFailsKeepsTheLessonAndIsRetried) {
  std::vector<std::string> notices;
  options.notice = [&](const std::string& path, const ComError& error) {
    notices.push_back(path + ": " + error.description());
  };
  BuiltinSpamEngine engine(options);
  for (int i = 0; i < engine::kRefitAfterChanges; ++i) {
    engine.Learn(user, mail.Header(true, i), mail.Body(true, i), true);
    engine.Learn(user, mail.Header(false, i), mail.Body(false, i), false);
  }
  auto changes_since_fit = [&] {
    engine::ModelLease model = backend->Open(user, engine::ModelOpen::kExistingOnly);
    model->BeginRead();
    const int32_t changes = model->Fit() ? model->ChangesSinceFit() : -1;
    model->Commit();
    model.Keep();
    return changes;
  };
  ASSERT_EQ(-1, changes_since_fit()) << "deliveries fit nothing";

  // As a full disk fails the write: nothing of the refit's transaction is kept.
  backend->FailOnce("PutFit", engine::EngineError(engine::kErrorDatabaseFailed, "user.dat", "disk full"));
  EXPECT_NO_THROW(engine.Relearn(user, mail.Header(true, 100), mail.Body(true, 100), true));
  EXPECT_FALSE(backend->FailurePending());
  EXPECT_EQ(engine::kRefitAfterChanges + 1, engine.GetCounts(user).spam) << "the lesson stands";
  ASSERT_EQ(1u, notices.size());
  EXPECT_NE(std::string::npos, notices[0].find("disk full")) << notices[0];
  EXPECT_EQ(0u, notices[0].find(user)) << notices[0];

  engine.Relearn(user, mail.Header(false, 101), mail.Body(false, 101), false);
  EXPECT_EQ(0, changes_since_fit()) << "the next correction refits";
  EXPECT_EQ(1u, notices.size());
}

// The lesson of a correction and the note that makes it stick are one write:
// a failure between them keeps neither, and the correction made again holds both.
TEST_F(WriteSyncTest, ACorrectionIsLearnedAndNotedTogetherOrNotAtAll) {
  BuiltinSpamEngine engine(options);
  engine.Learn(user, mail.Header(false, 1), mail.Body(false, 1), false);
  auto corrections = [&] {
    engine::ModelLease model = backend->Open(user, engine::ModelOpen::kExistingOnly);
    model->BeginRead();
    const size_t count = model->Corrections().size();
    model->Commit();
    model.Keep();
    return count;
  };
  backend->FailOnce("PutCorrection", engine::EngineError(engine::kErrorDatabaseFailed, "user.dat", "disk full"));
  EXPECT_THROW(engine.Relearn(user, mail.Header(false, 1), mail.Body(false, 1), true), ComError);
  EXPECT_EQ(1, engine.GetCounts(user).ham) << "the lesson went with the note";
  EXPECT_EQ(0u, corrections());
  engine.Relearn(user, mail.Header(false, 1), mail.Body(false, 1), true);
  EXPECT_EQ(1, engine.GetCounts(user).spam);
  EXPECT_EQ(1u, corrections());
}

}  // namespace
}  // namespace varnolt
