// A Dovecot user's mailboxes in memory, for testing the plugin's store
// records without a server: UIDs count up per mailbox as Dovecot's do.
#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backends/mailstore/store_errors.h"
#include "dovecot/mail_access.h"
#include "platform/com/com_error.h"
#include "platform/com/hresult.h"

namespace varnolt::dovecot::testing {

class FakeMailAccess final : public MailAccess {
 public:
  struct Mailbox {
    uint32_t next_uid = 1;
    std::map<uint32_t, StoredMessage> messages;
  };

  char Separator() override { return separator; }
  bool MailboxExists(const std::string& mailbox) override { return mailboxes.count(mailbox) > 0; }
  bool CreateMailbox(const std::string& mailbox) override { return mailboxes.emplace(mailbox, Mailbox{}).second; }
  std::optional<std::string> TrashMailbox() override { return trash; }
  std::optional<StoredMessage> ReadMessage(const std::string& mailbox, uint32_t uid) override {
    Mailbox& box = Require(mailbox);
    auto it = box.messages.find(uid);
    if (it == box.messages.end()) return std::nullopt;
    return it->second;
  }
  void UpdateKeywords(const std::string& mailbox, uint32_t uid, const std::vector<std::string>& add,
                      const std::vector<std::string>& remove) override {
    auto message = Require(mailbox).messages.find(uid);
    // As Dovecot's side reports a message another session moved or expunged.
    if (message == Require(mailbox).messages.end()) throw StoreError(kStoreNotFound);
    std::vector<std::string>& keywords = message->second.keywords;
    for (const auto& k : add) {
      if (std::find(keywords.begin(), keywords.end(), k) == keywords.end()) keywords.push_back(k);
    }
    for (const auto& k : remove) std::erase(keywords, k);
    ++keyword_updates;
  }
  uint32_t SaveMessage(const std::string& mailbox, const std::string& content,
                       const std::vector<std::string>& keywords) override {
    Mailbox& box = Require(mailbox);
    box.messages[box.next_uid] = StoredMessage{content, keywords};
    return box.next_uid++;
  }
  uint32_t MoveMessage(const std::string& mailbox, uint32_t uid, const std::string& destination) override {
    StoredMessage message = Require(mailbox).messages.at(uid);
    Require(mailbox).messages.erase(uid);
    return SaveMessage(destination, message.content, message.keywords);
  }

  Mailbox& Require(const std::string& mailbox) {
    auto it = mailboxes.find(mailbox);
    if (it == mailboxes.end()) throw ComError(E_FAIL, "Dovecot: no mailbox " + mailbox);
    return it->second;
  }

  char separator = '/';
  std::optional<std::string> trash;
  std::map<std::string, Mailbox> mailboxes;
  int keyword_updates = 0;
};

}  // namespace varnolt::dovecot::testing
