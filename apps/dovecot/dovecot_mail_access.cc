#include "dovecot/mail_access.h"

#include "backends/mailstore/store_errors.h"
#include "dovecot/dovecot_bridge.h"
#include "platform/com/com_error.h"
#include "platform/com/hresult.h"

namespace varnolt::dovecot {
namespace {

// The store's number for a kind of Dovecot failure; E_FAIL for the rest.
int32_t NumberOf(vd_error_kind kind) {
  switch (kind) {
    case VD_ERROR_NOT_FOUND:
      return kStoreNotFound;
    case VD_ERROR_EXISTS:
      return kStoreAlreadyExists;
    case VD_ERROR_PERMISSION:
      return kPermissionDenied;
    case VD_ERROR_QUOTA:
      return kStoreFull;
    case VD_ERROR_IN_USE:
      return kStoreBusy;
    case VD_ERROR_OTHER:
      break;
  }
  return E_FAIL;
}

// The last failure as the store's error of its kind, with Dovecot's own text.
[[noreturn]] void ThrowLastError() {
  const int32_t number = NumberOf(vd_last_error_kind());
  std::string kind = number == kPermissionDenied ? RuntimeErrorDescription(number) : StoreErrorDescription(number);
  const std::string text = std::string("Dovecot: ") + vd_last_error();
  throw ComError(number, kind.empty() ? text : kind + " (" + text + ")");
}

void AppendTo(void* context, const char* data, size_t size) { static_cast<std::string*>(context)->append(data, size); }

// A NULL-terminated array over the texts, for the C side.
std::vector<const char*> CArray(const std::vector<std::string>& texts) {
  std::vector<const char*> array;
  for (const std::string& text : texts) array.push_back(text.c_str());
  array.push_back(nullptr);
  return array;
}

}  // namespace

char DovecotMailAccess::Separator() { return vd_separator(user_); }

bool DovecotMailAccess::MailboxExists(const std::string& mailbox) {
  if (found_.contains(mailbox)) return true;
  const int found = vd_mailbox_exists(user_, mailbox.c_str());
  if (found < 0) ThrowLastError();
  // Only a mailbox found is remembered: one missing is asked for again, as
  // another session may make it at any moment (the filter checks the junk
  // folder again before it falls back to its Spambox).
  if (found > 0) found_.insert(mailbox);
  return found > 0;
}

bool DovecotMailAccess::CreateMailbox(const std::string& mailbox) {
  found_.clear();
  const int result = vd_mailbox_create(user_, mailbox.c_str());
  if (result < 0) ThrowLastError();
  found_.insert(mailbox);
  return result == 0;
}

std::optional<std::string> DovecotMailAccess::TrashMailbox() {
  std::string name;
  const int found = vd_trash_mailbox(user_, AppendTo, &name);
  if (found < 0) ThrowLastError();
  if (found == 0) return std::nullopt;
  return name;
}

std::optional<StoredMessage> DovecotMailAccess::ReadMessage(const std::string& mailbox, uint32_t uid) {
  StoredMessage message;
  auto add_keyword = [](void* context, const char* data, size_t size) {
    static_cast<StoredMessage*>(context)->keywords.emplace_back(data, size);
  };
  auto add_content = [](void* context, const char* data, size_t size) {
    static_cast<StoredMessage*>(context)->content.append(data, size);
  };
  const int found = vd_message_read(user_, mailbox.c_str(), uid, add_content, add_keyword, &message);
  if (found < 0) ThrowLastError();
  if (found == 0) return std::nullopt;
  return message;
}

void DovecotMailAccess::UpdateKeywords(const std::string& mailbox, uint32_t uid, const std::vector<std::string>& add,
                                       const std::vector<std::string>& remove) {
  const auto add_array = CArray(add);
  const auto remove_array = CArray(remove);
  if (vd_message_keywords(user_, mailbox.c_str(), uid, add_array.data(), remove_array.data()) < 0) ThrowLastError();
}

uint32_t DovecotMailAccess::SaveMessage(const std::string& mailbox, const std::string& content,
                                        const std::vector<std::string>& keywords) {
  found_.clear();  // a save may create its mailbox
  const auto keyword_array = CArray(keywords);
  uint32_t uid = 0;
  if (vd_message_save(user_, mailbox.c_str(), content.data(), content.size(), keyword_array.data(), &uid) < 0) {
    ThrowLastError();
  }
  return uid;
}

uint32_t DovecotMailAccess::MoveMessage(const std::string& mailbox, uint32_t uid, const std::string& destination) {
  found_.clear();
  uint32_t new_uid = 0;
  if (vd_message_move(user_, mailbox.c_str(), uid, destination.c_str(), &new_uid) < 0) ThrowLastError();
  return new_uid;
}

}  // namespace varnolt::dovecot
