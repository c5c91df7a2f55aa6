// Mailbox names as the command line and Dovecot give them: USER@DOMAIN
// checking, letter-case folding of URLs and keys, event flags, the
// constructor string's data folder and the paths made of them.
#include <string>

#include "backends/mailstore/store_names.h"
#include "backends/registry/key_path.h"
#include "dovecot/mailbox_urls.h"
#include "fuzz/fuzz_support.h"
#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"
#include "varnolt/cli_errors.h"
#include "varnolt/mailbox_address.h"

using namespace varnolt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(fuzz::AsText(data, size));
  try {
    const cli::MailboxAddress address = cli::ParseMailboxAddress(text);
    // An accepted name never leads a path out of the data folder.
    for (const std::string& part : {address.user, address.domain}) {
      if (part.empty() || part == "." || part == ".." || part.find_first_of("/\\") != std::string::npos) {
        __builtin_trap();
      }
    }
    const std::string url = MailboxUrl(address.domain, address.user);
    const cli::MailboxAddress back = cli::MailboxOfUrl(url + "/Inbox");
    if (back.user != address.user || back.domain != address.domain) __builtin_trap();
    UserDatabasePath("/data\\", address.domain, address.user);
  } catch (const cli::UsageError&) {
  }
  try {
    cli::MailboxOfUrl(text);
  } catch (const cli::UsageError&) {
  }
  try {
    cli::ParseEventFlags(text);
  } catch (const cli::UsageError&) {
  }
  try {
    DataFolderFromConstructorString(text);
  } catch (const ComError&) {
  }
  const std::string key = mailstore::LowerKey(text);
  if (key.size() != text.size() || mailstore::LowerKey(key) != key) __builtin_trap();
  FoldCase(text);
  CanonicalKeyPath(text);
  std::string user, domain;
  dovecot::SplitUserName(text, "example.com", &user, &domain);
  mailstore::NameFromSubject(text);
  return 0;
}
