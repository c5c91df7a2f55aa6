#include "support/forwarding_model_backend.h"

#include <optional>

#include "engine/file_model_backend.h"
#include "engine/model_cache.h"

namespace varnolt::testing {

struct ForwardingModelBackend::State {
  std::vector<engine::WriteSync> writes;
  std::string fail_method;
  std::optional<ComError> failure;

  void Enter(const char* method) {
    if (!failure || fail_method != method) return;
    const ComError error = *failure;
    failure.reset();
    throw error;
  }
};

namespace {

using State = ForwardingModelBackend::State;

class ForwardingModel : public engine::SpamModel, public engine::ModelLease::Holder {
 public:
  ForwardingModel(engine::ModelLease inner, std::shared_ptr<State> state)
      : inner_(std::move(inner)), state_(std::move(state)) {}

  engine::SpamModel* model() override { return this; }
  void Keep() override { inner_.Keep(); }

  void BeginRead() override {
    state_->Enter("BeginRead");
    inner_->BeginRead();
  }
  void BeginWrite(engine::WriteSync sync) override {
    state_->writes.push_back(sync);
    state_->Enter("BeginWrite");
    inner_->BeginWrite(sync);
  }
  void Commit() override {
    state_->Enter("Commit");
    inner_->Commit();
  }
  SpamCounts Counts() override {
    state_->Enter("Counts");
    return inner_->Counts();
  }
  void SetCounts(const SpamCounts& counts) override {
    state_->Enter("SetCounts");
    inner_->SetCounts(counts);
  }
  std::vector<engine::TokenCounts> Lookup(const std::vector<uint64_t>& ids) override {
    state_->Enter("Lookup");
    return inner_->Lookup(ids);
  }
  void Update(const std::vector<uint64_t>& ids, const engine::TokenDelta& delta) override {
    state_->Enter("Update");
    inner_->Update(ids, delta);
  }
  std::optional<engine::LearnedMessage> FindMessage(const engine::MessageDigest& digest) override {
    state_->Enter("FindMessage");
    return inner_->FindMessage(digest);
  }
  void PutMessage(const engine::MessageDigest& digest, const engine::LearnedMessage& message) override {
    state_->Enter("PutMessage");
    inner_->PutMessage(digest, message);
  }
  engine::LearnedMessages Messages() override {
    state_->Enter("Messages");
    return inner_->Messages();
  }
  std::shared_ptr<const engine::LinearFit> Fit() override {
    state_->Enter("Fit");
    return inner_->Fit();
  }
  void PutFit(const engine::LinearFit* fit) override {
    state_->Enter("PutFit");
    inner_->PutFit(fit);
  }
  int32_t ChangesSinceFit() override {
    state_->Enter("ChangesSinceFit");
    return inner_->ChangesSinceFit();
  }
  void SetChangesSinceFit(int32_t changes) override {
    state_->Enter("SetChangesSinceFit");
    inner_->SetChangesSinceFit(changes);
  }
  void PutCorrection(const engine::MessageDigest& digest, const std::string& keys) override {
    state_->Enter("PutCorrection");
    inner_->PutCorrection(digest, keys);
  }
  std::vector<engine::Correction> Corrections() override {
    state_->Enter("Corrections");
    return inner_->Corrections();
  }
  std::vector<engine::PendingLesson> PendingLessons(bool with_tokens) override {
    state_->Enter("PendingLessons");
    return inner_->PendingLessons(with_tokens);
  }
  void PutPendingLesson(const engine::PendingLesson& lesson) override {
    state_->Enter("PutPendingLesson");
    inner_->PutPendingLesson(lesson);
  }
  void DropPendingLesson(const std::string& user, const engine::DigestBytes& digest) override {
    state_->Enter("DropPendingLesson");
    inner_->DropPendingLesson(user, digest);
  }
  void Clear() override {
    state_->Enter("Clear");
    inner_->Clear();
  }
  engine::ModelContents Contents() override {
    state_->Enter("Contents");
    return inner_->Contents();
  }

 private:
  engine::ModelLease inner_;
  std::shared_ptr<State> state_;
};

}  // namespace

ForwardingModelBackend::ForwardingModelBackend(std::shared_ptr<engine::ModelBackend> inner)
    : inner_(inner ? std::move(inner)
                   : std::make_shared<engine::FileModelBackend>(std::make_shared<engine::ModelCache>())),
      state_(std::make_shared<State>()) {}

engine::ModelLease ForwardingModelBackend::Open(const std::string& path, engine::ModelOpen mode) {
  engine::ModelLease inner = inner_->Open(path, mode);
  if (!inner) return inner;
  return engine::ModelLease(std::make_unique<ForwardingModel>(std::move(inner), state_));
}

void ForwardingModelBackend::FailOnce(const std::string& method, ComError error) {
  state_->fail_method = method;
  state_->failure = std::move(error);
}

bool ForwardingModelBackend::FailurePending() const { return state_->failure.has_value(); }

std::vector<engine::WriteSync>& ForwardingModelBackend::writes() { return state_->writes; }

}  // namespace varnolt::testing
