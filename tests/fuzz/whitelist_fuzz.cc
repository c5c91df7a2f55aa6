// The whitelist reader: the sender as the filter takes it from a delivered
// message's From header, looked up in the user's whitelist file, and the file
// read line by line as `varnolt whitelist list` reads it.
#include <string>

#include "backends/system/posix_text_files.h"
#include "diagnostics/reporter.h"
#include "dovecot/fake_mail_access.h"
#include "dovecot/plugin_records.h"
#include "fuzz/fuzz_support.h"
#include "platform/names/data_layout.h"
#include "trust/message_readers.h"
#include "trust/whitelist.h"

using namespace varnolt;

namespace {

class QuietReporter final : public Reporter {
 public:
  void LogLine(const std::string&) override {}
  void LogError(const std::string&, int32_t, const std::string&) override {}
};

}  // namespace

// Input: the From header's value, "\n--\n", the whitelist file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> pieces = fuzz::SplitPieces(fuzz::AsText(data, size), 2);
  const std::string dat_path = fuzz::ScratchFolder() + "/alice.dat";
  fuzz::WriteScratchFile(WhiteListPath(dat_path), pieces[1]);

  dovecot::testing::FakeMailAccess access;
  access.CreateMailbox("INBOX");
  dovecot::PluginConnection connection(access, dovecot::MailboxUrls("example.com", "alice", '/'));
  const std::string message = "From: " + std::string(pieces[0]) + "\r\nSubject: hi\r\n\r\nbody\r\n";
  auto record = dovecot::PluginRecord::ForDelivery(connection, "INBOX", message);

  QuietReporter reporter;
  PosixTextFiles files;
  const std::string sender = GetSenderAddress(reporter, *record);
  // A sender never carries a line break into the file it is looked up in or added to.
  if (sender.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  InWhiteList(reporter, files, *record, dat_path, sender);

  auto reader = files.OpenForReading(WhiteListPath(dat_path));
  for (std::string line; reader->ReadLine(&line);) {
    if (line.find('\n') != std::string::npos) __builtin_trap();
  }
  return 0;
}
