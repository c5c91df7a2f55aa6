#include "support/faulty_connection.h"

#include "backends/mailstore/store_names.h"

namespace varnolt::testing {

using mailstore::LowerKey;

void StoreFaults::FailOn(StoreCall call, const std::string& url, const ComError& error, const std::string& field,
                         int times) {
  rules_.push_back(Rule{call, false, LowerKey(url), LowerKey(field), error, times});
}

void StoreFaults::FailEverything(const ComError& error) {
  rules_.push_back(Rule{StoreCall::kOpen, true, "", "", error, -1});
}

void StoreFaults::Clear() { rules_.clear(); }

int StoreFaults::Calls(StoreCall call) const {
  auto found = calls_.find(call);
  return found == calls_.end() ? 0 : found->second;
}

void StoreFaults::BeforeCall(StoreCall call, const std::string& url, const std::string& field) {
  ++calls_[call];
  for (Rule& rule : rules_) {
    if (rule.times == 0) continue;
    if (!rule.any_call && rule.call != call) continue;
    if (!rule.url_key.empty() && rule.url_key != LowerKey(url)) continue;
    if (!rule.field_key.empty() && rule.field_key != LowerKey(field)) continue;
    if (rule.times > 0) --rule.times;
    throw rule.error;
  }
}

EventWrapper FaultyEvents(std::shared_ptr<StoreFaults> faults) {
  return [faults](EventParts parts) {
    auto connection = std::make_shared<FaultyConnection>(parts.connection, faults);
    return EventParts{connection, connection->Adopt(parts.record)};
  };
}

}  // namespace varnolt::testing
