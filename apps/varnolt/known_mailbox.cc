#include "varnolt/known_mailbox.h"

#include <filesystem>

#include "backends/mailstore/store_errors.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"

namespace varnolt::cli {

MailboxAddress KnownMailbox(Session& session, const std::string& text) {
  const MailboxAddress given = ParseMailboxAddress(text);
  try {
    return MailboxOfUrl(session.LookupStore().Describe(MailStore::MailboxUrl(given.domain, given.user)).url);
  } catch (const ComError& error) {
    if (error.number() != kStoreNotFound && error.number() != kStoreInvalidUrl) throw;
  }
  const std::string data_folder = session.DataFolder();
  std::error_code ignored;
  if (!data_folder.empty() && std::filesystem::is_regular_file(
                                  ToFileSystemPath(UserDatabasePath(data_folder, given.domain, given.user)), ignored)) {
    return given;
  }
  throw hosting::CommandError("no mailbox " + given.Text() + " (create it with 'varnolt mailbox add')");
}

}  // namespace varnolt::cli
