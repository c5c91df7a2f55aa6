// The mailbox operations the plugin's store records need, over one user's
// Dovecot mailboxes. Mailbox names are Dovecot's (namespace separator
// included). Failures throw ComError.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct mail_user;

namespace varnolt::dovecot {

struct StoredMessage {
  std::string content;
  std::vector<std::string> keywords;
};

class MailAccess {
 public:
  virtual ~MailAccess() = default;

  // The hierarchy separator of the user's mailbox names.
  virtual char Separator() = 0;
  virtual bool MailboxExists(const std::string& mailbox) = 0;
  // False when the mailbox already existed.
  virtual bool CreateMailbox(const std::string& mailbox) = 0;
  // The mailbox with the \Trash special use, if any.
  virtual std::optional<std::string> TrashMailbox() = 0;
  // nullopt when the mailbox holds no message of that UID.
  virtual std::optional<StoredMessage> ReadMessage(const std::string& mailbox, uint32_t uid) = 0;
  virtual void UpdateKeywords(const std::string& mailbox, uint32_t uid, const std::vector<std::string>& add,
                              const std::vector<std::string>& remove) = 0;
  // Saves a new message; returns its UID.
  virtual uint32_t SaveMessage(const std::string& mailbox, const std::string& content,
                               const std::vector<std::string>& keywords) = 0;
  // Moves a message; returns its UID in the destination.
  virtual uint32_t MoveMessage(const std::string& mailbox, uint32_t uid, const std::string& destination) = 0;
};

// The operations on a Dovecot user, through the plugin's C side. One lives
// for one event: a mailbox it found stays found until the event itself
// creates, saves or moves (each look-up makes Dovecot refresh the user's
// mailbox list, a directory scan for a mailbox that is missing); one it
// missed is looked up again.
class DovecotMailAccess final : public MailAccess {
 public:
  explicit DovecotMailAccess(mail_user* user) : user_(user) {}

  char Separator() override;
  bool MailboxExists(const std::string& mailbox) override;
  bool CreateMailbox(const std::string& mailbox) override;
  std::optional<std::string> TrashMailbox() override;
  std::optional<StoredMessage> ReadMessage(const std::string& mailbox, uint32_t uid) override;
  void UpdateKeywords(const std::string& mailbox, uint32_t uid, const std::vector<std::string>& add,
                      const std::vector<std::string>& remove) override;
  uint32_t SaveMessage(const std::string& mailbox, const std::string& content,
                       const std::vector<std::string>& keywords) override;
  uint32_t MoveMessage(const std::string& mailbox, uint32_t uid, const std::string& destination) override;

 private:
  mail_user* user_;
  std::set<std::string, std::less<>> found_;
};

}  // namespace varnolt::dovecot
