// A model backend that forwards every call to another one (the file backend
// over a cache of its own, by default) and lets a test watch and steer it:
// how each write was begun, and exactly one call that fails instead of being
// forwarded, as a full disk or a lost connection fails it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/spam_model.h"
#include "platform/com/com_error.h"

namespace varnolt::testing {

class ForwardingModelBackend : public engine::ModelBackend {
 public:
  explicit ForwardingModelBackend(std::shared_ptr<engine::ModelBackend> inner = nullptr);

  engine::ModelLease Open(const std::string& path, engine::ModelOpen mode) override;

  // The next call of that SpamModel method ("PutFit", "Update", "BeginWrite"...)
  // on any model this backend lent throws error instead; later calls forward again.
  void FailOnce(const std::string& method, ComError error);
  // Whether the failure asked for is still to come.
  bool FailurePending() const;
  // The WriteSync of every BeginWrite, in order.
  std::vector<engine::WriteSync>& writes();

  struct State;

 private:
  std::shared_ptr<engine::ModelBackend> inner_;
  std::shared_ptr<State> state_;
};

}  // namespace varnolt::testing
