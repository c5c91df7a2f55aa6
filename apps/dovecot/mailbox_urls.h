// The store's URL form over one Dovecot user's mailboxes:
// <mailbox root>/<folder path>/<uid>.EML, the folder path being the Dovecot
// mailbox name with "/" for its hierarchy separator. Pure text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnolt::dovecot {

// Splits a Dovecot user name at its last "@"; a name without one belongs to default_domain.
void SplitUserName(const std::string& user_name, const std::string& default_domain, std::string* user,
                   std::string* domain);

class MailboxUrls {
 public:
  MailboxUrls(std::string domain, std::string user, char separator);

  const std::string& domain() const { return domain_; }
  const std::string& user() const { return user_; }

  // The mailbox root: file://./backofficestorage/<domain>/MBX/<user>.
  const std::string& Root() const { return root_; }
  std::string FolderUrl(const std::string& mailbox) const;
  std::string ItemUrl(const std::string& mailbox, uint32_t uid) const;

  // The "/"-separated path of the URL below the root ("" for the root
  // itself); nullopt for a URL outside this user's mailboxes. Letter case of
  // the root is ignored, as the store ignores it.
  std::optional<std::string> PathOf(const std::string& url) const;
  // The Dovecot mailbox name of a folder path.
  std::string MailboxOf(const std::string& path) const;

 private:
  std::string domain_;
  std::string user_;
  char separator_;
  std::string root_;
};

// "<uid>.EML" (any letter case) -> the UID; nullopt for any other name.
std::optional<uint32_t> UidOfItemName(const std::string& name);
std::string ItemNameOfUid(uint32_t uid);

}  // namespace varnolt::dovecot
