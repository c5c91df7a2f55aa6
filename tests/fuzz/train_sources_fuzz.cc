// The readers of `train`: an mbox file, a Maildir and loose message files,
// each message then read as the filter would hand it to the engine.
#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "varnolt/cli_errors.h"
#include "varnolt/mail_sources.h"
#include "varnolt/message_input.h"

using namespace varnolt;

// Input: pieces that become files: the first an mbox (or any file), the
// others the messages of a Maildir's cur/ and new/.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  const std::vector<std::string_view> pieces = fuzz::SplitPieces(fuzz::AsText(data, size), 4);
  const fs::path root = fs::path(fuzz::ScratchFolder()) / "train";
  std::error_code ignored;
  fs::remove_all(root, ignored);
  fs::create_directories(root / "maildir" / "cur");
  fs::create_directories(root / "maildir" / "new");
  fs::create_directories(root / "maildir" / ".Junk" / "cur");
  fs::create_directories(root / "maildir" / ".Junk" / "new");
  fuzz::WriteScratchFile(root / "mbox", pieces[0]);
  fuzz::WriteScratchFile(root / "maildir" / "cur" / "1:2,S", pieces[1]);
  fuzz::WriteScratchFile(root / "maildir" / "new" / "2", pieces[2]);
  fuzz::WriteScratchFile(root / "maildir" / ".Junk" / "cur" / "3", pieces[3]);

  // The splitter alone keeps every byte that is no separator line.
  size_t kept = 0;
  for (const std::string& message : cli::SplitMbox(pieces[0])) kept += message.size();
  if (kept > pieces[0].size()) __builtin_trap();

  try {
    cli::MailSource source({(root / "mbox").string(), (root / "maildir").string()}, /*recursive=*/true,
                           [](const std::string&, const std::string&) {});
    cli::MailMessage message;
    while (source.Next(&message)) {
      if (!cli::LooksLikeMail(message.bytes)) __builtin_trap();
      cli::EngineInputOf(message.bytes);
    }
  } catch (const hosting::CommandError&) {
  }
  return 0;
}
