#include "dovecot/mailbox_urls.h"

#include <algorithm>
#include <charconv>

#include "backends/mailstore/store_names.h"
#include "platform/names/data_layout.h"

namespace varnolt::dovecot {

void SplitUserName(const std::string& user_name, const std::string& default_domain, std::string* user,
                   std::string* domain) {
  const size_t at = user_name.rfind('@');
  if (at == std::string::npos) {
    *user = user_name;
    *domain = default_domain;
    return;
  }
  *user = user_name.substr(0, at);
  *domain = user_name.substr(at + 1);
}

MailboxUrls::MailboxUrls(std::string domain, std::string user, char separator)
    : domain_(std::move(domain)),
      user_(std::move(user)),
      separator_(separator),
      root_(MailboxUrl(domain_, user_)) {}

std::string MailboxUrls::FolderUrl(const std::string& mailbox) const {
  std::string path = mailbox;
  std::replace(path.begin(), path.end(), separator_, '/');
  return root_ + "/" + path;
}

std::string MailboxUrls::ItemUrl(const std::string& mailbox, uint32_t uid) const {
  return FolderUrl(mailbox) + "/" + ItemNameOfUid(uid);
}

std::optional<std::string> MailboxUrls::PathOf(const std::string& url) const {
  if (url.size() < root_.size()) return std::nullopt;
  if (mailstore::LowerKey(url.substr(0, root_.size())) != mailstore::LowerKey(root_)) return std::nullopt;
  if (url.size() == root_.size()) return "";
  if (url[root_.size()] != '/') return std::nullopt;
  std::string path = url.substr(root_.size() + 1);
  // A folder URL may be written with a trailing "/".
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

std::string MailboxUrls::MailboxOf(const std::string& path) const {
  std::string mailbox = path;
  std::replace(mailbox.begin(), mailbox.end(), '/', separator_);
  return mailbox;
}

std::optional<uint32_t> UidOfItemName(const std::string& name) {
  constexpr std::string_view kExtension = ".eml";
  if (name.size() <= kExtension.size()) return std::nullopt;
  const std::string digits = name.substr(0, name.size() - kExtension.size());
  if (mailstore::LowerKey(name.substr(digits.size())) != kExtension) return std::nullopt;
  uint32_t uid = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), uid);
  if (error != std::errc() || end != digits.data() + digits.size() || uid == 0) return std::nullopt;
  return uid;
}

std::string ItemNameOfUid(uint32_t uid) { return std::to_string(uid) + ".EML"; }

}  // namespace varnolt::dovecot
