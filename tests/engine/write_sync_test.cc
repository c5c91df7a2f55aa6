// Which lessons may be lost in a crash: what the engine learns on its own
// commits without waiting where the store allows it; a user's correction and
// an administrator's lesson always wait.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"
#include "engine/file_model_backend.h"
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
  RecordingModel(engine::ModelLease inner, std::vector<WriteSync>* writes)
      : inner_(std::move(inner)), writes_(writes) {}

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
  void PutFit(const engine::LinearFit* fit) override { inner_->PutFit(fit); }
  int32_t ChangesSinceFit() override { return inner_->ChangesSinceFit(); }
  void SetChangesSinceFit(int32_t changes) override { inner_->SetChangesSinceFit(changes); }
  void Clear() override { inner_->Clear(); }
  engine::ModelContents Contents() override { return inner_->Contents(); }

 private:
  engine::ModelLease inner_;
  std::vector<WriteSync>* writes_;
};

class RecordingBackend : public engine::ModelBackend {
 public:
  RecordingBackend()
      : files_(std::make_shared<engine::FileModelBackend>(std::make_shared<engine::ModelCache>())) {}
  engine::ModelLease Open(const std::string& path, engine::ModelOpen mode) override {
    engine::ModelLease inner = files_->Open(path, mode);
    if (!inner) return inner;
    return engine::ModelLease(std::make_unique<RecordingModel>(std::move(inner), &writes));
  }
  std::vector<WriteSync> writes;

 private:
  std::shared_ptr<engine::ModelBackend> files_;
};

TEST(WriteSyncTest, OnlyTheEnginesOwnLessonsMayBeLost) {
  testing::TempFolder folder;
  fs::create_directories(folder.path() / "example.org");
  const std::string user = UserDatabasePath(folder.path().string() + "\\", "example.org", "alice");
  testing::MailMaker mail;

  auto backend = std::make_shared<RecordingBackend>();
  EngineOptions options;
  options.models = backend;
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

}  // namespace
}  // namespace varnolt
