#include "varnolt/mailbox_address.h"

#include <charconv>
#include <cstdint>

#include "backends/mailstore/store_names.h"
#include "platform/names/data_layout.h"
#include "varnolt/cli_errors.h"

namespace varnolt::cli {

MailboxAddress ParseMailboxAddress(const std::string& text) {
  const size_t at = text.rfind('@');
  if (at == std::string::npos) throw UsageError("'" + text + "' is not of the form USER@DOMAIN");
  MailboxAddress address{text.substr(0, at), text.substr(at + 1)};
  if (!mailstore::IsValidName(address.user) || !mailstore::IsValidName(address.domain)) {
    throw UsageError("'" + text + "' is not a valid mailbox name (USER@DOMAIN, no '/', '\\', '.' or '..' parts)");
  }
  if (address.user.size() > mailstore::kMaxUserBytes || address.domain.size() > mailstore::kMaxDomainBytes) {
    throw UsageError("'" + text + "' is too long for a mailbox name (at most " +
                     std::to_string(mailstore::kMaxUserBytes) + " bytes before the '@' and " +
                     std::to_string(mailstore::kMaxDomainBytes) + " after it)");
  }
  return address;
}

MailboxAddress MailboxOfUrl(const std::string& url) {
  // The shared URL form (data_layout.h) with any trailing path; the store ignores letter case.
  const std::string prefix = kMailboxUrlPrefix;
  const std::string infix = mailstore::LowerKey(kMailboxUrlInfix);
  const std::string key = mailstore::LowerKey(url);
  auto fail = [&]() -> MailboxAddress {
    throw UsageError("'" + url + "' is not a mailbox URL (" + MailboxUrl("<domain>", "<user>") + "/...)");
  };
  if (key.rfind(prefix, 0) != 0) return fail();
  const size_t domain_end = key.find('/', prefix.size());
  if (domain_end == std::string::npos || key.compare(domain_end, infix.size(), infix) != 0) return fail();
  const size_t user_start = domain_end + infix.size();
  const size_t user_end = key.find('/', user_start);
  MailboxAddress address{url.substr(user_start, user_end == std::string::npos ? std::string::npos
                                                                               : user_end - user_start),
                         url.substr(prefix.size(), domain_end - prefix.size())};
  if (!mailstore::IsValidName(address.user) || !mailstore::IsValidName(address.domain)) return fail();
  return address;
}

int32_t ParseEventFlags(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
  if (ec != std::errc() || ptr != end || begin == end || value > UINT32_MAX) {
    throw UsageError("'" + text + "' is not a 32-bit flags value (hexadecimal with 0x, or decimal)");
  }
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

}  // namespace varnolt::cli
