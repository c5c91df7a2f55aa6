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
#include "engine/file_model_backend.h"
#include "engine/linear_fit.h"
#include "engine/model_cache.h"
#include "platform/names/data_layout.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using engine::WriteSync;

// Forwards to a real model and notes how each write was begun.
class RecordingModel : public engine::SpamModel, public engine::ModelLease::Holder {
 public:
  RecordingModel(engine::ModelLease inner, std::vector<WriteSync>* writes, const bool* fail_fits)
      : inner_(std::move(inner)), writes_(writes), fail_fits_(fail_fits) {}

  engine::SpamModel* model() override { return this; }
  void Keep() override { inner_.Keep(); }

  void BeginRead() override { inner_->BeginRead(); }
  void BeginWrite(WriteSync sync) override {
    writes_->push_back(sync);
    inner_->BeginWrite(sync);
  }
  void Commit() override { inner_->Commit(); }
  SpamCounts Counts() override { return inner_->Counts(); }
  void SetCounts(const SpamCounts& counts) override { inner_->SetCounts(counts); }
  std::vector<engine::TokenCounts> Lookup(const std::vector<uint64_t>& ids) override { return inner_->Lookup(ids); }
  void Update(const std::vector<uint64_t>& ids, const engine::TokenDelta& delta) override {
    inner_->Update(ids, delta);
  }
  std::optional<engine::LearnedMessage> FindMessage(const engine::MessageDigest& digest) override {
    return inner_->FindMessage(digest);
  }
  void PutMessage(const engine::MessageDigest& digest, const engine::LearnedMessage& message) override {
    inner_->PutMessage(digest, message);
  }
  engine::LearnedMessages Messages() override { return inner_->Messages(); }
  std::shared_ptr<const engine::LinearFit> Fit() override { return inner_->Fit(); }
  void PutFit(const engine::LinearFit* fit) override {
    // As a full disk fails the write: nothing of the transaction is kept.
    if (*fail_fits_) throw engine::EngineError(engine::kErrorDatabaseFailed, "user.dat", "disk full");
    inner_->PutFit(fit);
  }
  int32_t ChangesSinceFit() override { return inner_->ChangesSinceFit(); }
  void SetChangesSinceFit(int32_t changes) override { inner_->SetChangesSinceFit(changes); }
  std::vector<engine::PendingLesson> PendingLessons(bool with_tokens) override {
    return inner_->PendingLessons(with_tokens);
  }
  void PutPendingLesson(const engine::PendingLesson& lesson) override { inner_->PutPendingLesson(lesson); }
  void DropPendingLesson(const std::string& user, const engine::DigestBytes& digest) override {
    inner_->DropPendingLesson(user, digest);
  }
  void Clear() override { inner_->Clear(); }
  engine::ModelContents Contents() override { return inner_->Contents(); }

 private:
  engine::ModelLease inner_;
  std::vector<WriteSync>* writes_;
  const bool* fail_fits_;
};

class RecordingBackend : public engine::ModelBackend {
 public:
  RecordingBackend()
      : files_(std::make_shared<engine::FileModelBackend>(std::make_shared<engine::ModelCache>())) {}
  engine::ModelLease Open(const std::string& path, engine::ModelOpen mode) override {
    engine::ModelLease inner = files_->Open(path, mode);
    if (!inner) return inner;
    return engine::ModelLease(std::make_unique<RecordingModel>(std::move(inner), &writes, &fail_fits));
  }
  std::vector<WriteSync> writes;
  bool fail_fits = false;

 private:
  std::shared_ptr<engine::ModelBackend> files_;
};

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
  std::shared_ptr<RecordingBackend> backend = std::make_shared<RecordingBackend>();
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
    backend->writes.clear();
    c.act();
    ASSERT_FALSE(backend->writes.empty());  // the user's model, and the domain's where it learns too
    for (WriteSync sync : backend->writes) EXPECT_EQ(c.expected, sync);
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

  backend->fail_fits = true;
  EXPECT_NO_THROW(engine.Relearn(user, mail.Header(true, 100), mail.Body(true, 100), true));
  EXPECT_EQ(engine::kRefitAfterChanges + 1, engine.GetCounts(user).spam) << "the lesson stands";
  ASSERT_EQ(1u, notices.size());
  EXPECT_NE(std::string::npos, notices[0].find("disk full")) << notices[0];
  EXPECT_EQ(0u, notices[0].find(user)) << notices[0];

  backend->fail_fits = false;
  engine.Relearn(user, mail.Header(false, 101), mail.Body(false, 101), false);
  EXPECT_EQ(0, changes_since_fit()) << "the next correction refits";
  EXPECT_EQ(1u, notices.size());
}

}  // namespace
}  // namespace varnolt
