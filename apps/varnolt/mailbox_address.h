// Mailbox names as the command line takes them (USER@DOMAIN) and as the
// store's URLs hold them.
#pragma once

#include <string>

namespace varnolt::cli {

struct MailboxAddress {
  std::string user;
  std::string domain;

  std::string Text() const { return user + "@" + domain; }
};

// Splits USER@DOMAIN at its last "@". Throws UsageError unless both parts are
// names the store accepts (so they are also safe as file names below the data
// folder), the user at most 64 bytes and the domain 255.
MailboxAddress ParseMailboxAddress(const std::string& text);

// The mailbox an item or folder URL lies in. Throws UsageError for a URL
// that does not name a place inside a mailbox.
MailboxAddress MailboxOfUrl(const std::string& url);

// Parses event flags: hexadecimal with "0x", or decimal; any 32-bit pattern.
// Throws UsageError otherwise.
int32_t ParseEventFlags(const std::string& text);

}  // namespace varnolt::cli
