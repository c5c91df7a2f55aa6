// A store that fails chosen calls: a forwarding connection whose
// observer throws a chosen ComError for a chosen call on a chosen URL.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/mailstore/mail_store.h"
#include "platform/com/com_error.h"
#include "support/forwarding_connection.h"

namespace varnolt::testing {

class StoreFaults final : public StoreCallObserver {
 public:
  // From now on the call fails with error when made on a record whose URL is
  // url (letter case ignored; "" matches every record) and, when field is
  // not empty, on that property (letter case ignored). times: how many
  // failures before the rule is spent; -1 for no end.
  void FailOn(StoreCall call, const std::string& url, const ComError& error, const std::string& field = "",
              int times = -1);
  // Fails every call of every kind with the error.
  void FailEverything(const ComError& error);
  void Clear();

  // How many calls of the kind were made, failed ones included.
  int Calls(StoreCall call) const;

  void BeforeCall(StoreCall call, const std::string& url, const std::string& field) override;

 private:
  struct Rule {
    StoreCall call;
    bool any_call;
    std::string url_key;
    std::string field_key;
    ComError error;
    int times;
  };
  std::vector<Rule> rules_;
  std::map<StoreCall, int> calls_;
};

class FaultyConnection final : public ForwardingConnection {
 public:
  FaultyConnection(std::shared_ptr<Connection> inner, std::shared_ptr<StoreFaults> faults)
      : ForwardingConnection(std::move(inner), faults), faults_(std::move(faults)) {}
  StoreFaults& faults() { return *faults_; }

 private:
  std::shared_ptr<StoreFaults> faults_;
};

// An event wrapper for MailStore::SetEventWrapper that hands the sink a
// faulty connection and item record sharing these faults.
EventWrapper FaultyEvents(std::shared_ptr<StoreFaults> faults);

}  // namespace varnolt::testing
