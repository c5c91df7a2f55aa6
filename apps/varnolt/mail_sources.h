// Mail to learn from, as administrators keep it: message files, folders of
// them, Maildir folders, mbox files, and standard input. Each message comes
// with a name for warnings ("FILE", or "FILE, message N" inside an mbox).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnolt::cli {

inline constexpr const char* kStandardInputName = "-";

struct MailMessage {
  std::string name;
  std::string bytes;
};

// The messages of an mbox: split before each "From " line at the start of
// the file or after an empty line, that separator line dropped, ">From "
// (and ">>From "...) lines unquoted by one ">", and the empty line before the
// next separator dropped.
std::vector<std::string> SplitMbox(std::string_view mbox);

// Whether bytes start like a mail message: a header field ("Name: value")
// with no NUL byte in the header block.
bool LooksLikeMail(std::string_view bytes);

// Whether bytes are an mbox (they start with a "From " line).
bool LooksLikeMbox(std::string_view bytes);

// The messages below the given paths, one at a time, in a fixed order:
// - a file: one message, or each message of an mbox;
// - "-": standard input, one message or an mbox;
// - a Maildir (a folder with cur/ and new/): the files of cur/ then new/,
//   each in name order; its subfolders (".Junk"...) only when recursive;
// - any other folder: its files in name order; its subfolders only when
//   recursive (each may again be a Maildir).
// A file that is not mail (no header block) is reported to skip(name,
// reason) and not returned. The constructor throws CommandError for a path
// that does not exist, before anything is read.
class MailSource {
 public:
  using SkipReporter = std::function<void(const std::string& name, const std::string& reason)>;
  MailSource(const std::vector<std::string>& paths, bool recursive, SkipReporter skip);

  // The next message; false when there is none left.
  bool Next(MailMessage* message);

 private:
  void Expand(const std::string& path, bool top);
  void ReadFile(const std::string& path);

  bool recursive_;
  SkipReporter skip_;
  std::deque<std::string> files_;  // still to read
  std::deque<MailMessage> ready_;  // read, not yet returned
};

}  // namespace varnolt::cli
