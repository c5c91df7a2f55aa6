#include "varnolt/mail_sources.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "backends/mailstore/raw_headers.h"
#include "varnolt/cli_errors.h"
#include "varnolt/file_io.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFromLine = "From ";

bool IsDirectory(const fs::path& path) {
  std::error_code ignored;
  return fs::is_directory(path, ignored);
}

bool IsMaildir(const fs::path& path) { return IsDirectory(path / "cur") && IsDirectory(path / "new"); }

// The regular files and the folders directly in a folder, each sorted by name.
void ListFolder(const fs::path& folder, std::vector<std::string>* files, std::vector<std::string>* folders) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    if (it->is_directory(type_error)) {
      if (folders != nullptr) folders->push_back(it->path().string());
    } else if (it->is_regular_file(type_error)) {
      files->push_back(it->path().string());
    }
  }
  if (error) throw hosting::CommandError("cannot read the folder " + folder.string() + ": " + error.message());
  std::sort(files->begin(), files->end());
  if (folders != nullptr) std::sort(folders->begin(), folders->end());
}

// A line of an mbox body that was quoted because it began with "From ".
bool IsQuotedFrom(std::string_view line) {
  const size_t quotes = line.find_first_not_of('>');
  return quotes != 0 && quotes != std::string_view::npos && line.substr(quotes, kFromLine.size()) == kFromLine;
}

// The empty line before a separator (and at the end) belongs to the mbox, not the message.
void DropSeparatorBlank(std::string& message) {
  auto ends_with = [&](std::string_view tail) {
    return message.size() >= tail.size() && std::string_view(message).substr(message.size() - tail.size()) == tail;
  };
  if (ends_with("\r\n\r\n")) {
    message.resize(message.size() - 2);
  } else if (ends_with("\n\n")) {
    message.resize(message.size() - 1);
  }
}

}  // namespace

bool LooksLikeMbox(std::string_view bytes) { return bytes.substr(0, kFromLine.size()) == kFromLine; }

bool LooksLikeMail(std::string_view bytes) {
  const size_t header = mailstore::HeaderBlockLength(bytes);
  return header > 0 && bytes.substr(0, header).find('\0') == std::string_view::npos;
}

std::vector<std::string> SplitMbox(std::string_view mbox) {
  std::vector<std::string> messages;
  std::string* current = nullptr;
  bool previous_empty = true;  // the start of the file counts as after an empty line
  size_t pos = 0;
  while (pos < mbox.size()) {
    size_t end = mbox.find('\n', pos);
    end = end == std::string_view::npos ? mbox.size() : end + 1;
    const std::string_view line = mbox.substr(pos, end - pos);
    pos = end;
    std::string_view text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (previous_empty && text.substr(0, kFromLine.size()) == kFromLine) {
      if (current != nullptr) DropSeparatorBlank(*current);
      messages.emplace_back();
      current = &messages.back();
      previous_empty = false;
      continue;
    }
    previous_empty = text.empty();
    if (current == nullptr) continue;  // text before the first separator is no message
    current->append(IsQuotedFrom(text) ? line.substr(1) : line);
  }
  if (current != nullptr) DropSeparatorBlank(*current);
  return messages;
}

MailSource::MailSource(const std::vector<std::string>& paths, bool recursive, SkipReporter skip)
    : recursive_(recursive), skip_(std::move(skip)) {
  for (const std::string& path : paths) {
    if (path == kStandardInputName) continue;
    std::error_code error;
    if (!fs::exists(path, error)) throw hosting::CommandError("cannot read " + path + ": no such file or directory");
  }
  for (const std::string& path : paths) Expand(path, true);
}

void MailSource::Expand(const std::string& path, bool top) {
  if (path == kStandardInputName || !IsDirectory(path)) {
    files_.push_back(path);
    return;
  }
  std::vector<std::string> files, folders;
  if (IsMaildir(path)) {
    for (const char* part : {"cur", "new"}) ListFolder(fs::path(path) / part, &files, nullptr);
    if (recursive_) {
      std::vector<std::string> ignored;
      ListFolder(path, &ignored, &folders);
      std::erase_if(folders, [](const std::string& folder) {
        const std::string name = fs::path(folder).filename().string();
        return name == "cur" || name == "new" || name == "tmp";
      });
    }
  } else {
    ListFolder(path, &files, recursive_ || top ? &folders : nullptr);
    if (!recursive_) folders.clear();
  }
  files_.insert(files_.end(), files.begin(), files.end());
  for (const std::string& folder : folders) Expand(folder, false);
}

void MailSource::ReadFile(const std::string& path) {
  const bool from_stdin = path == kStandardInputName;
  const std::string name = from_stdin ? "standard input" : path;
  const std::string bytes = from_stdin ? ReadStandardInput() : ReadFileBytes(path);
  if (LooksLikeMbox(bytes)) {
    const std::vector<std::string> messages = SplitMbox(bytes);
    for (size_t i = 0; i < messages.size(); ++i) {
      const std::string part = name + ", message " + std::to_string(i + 1);
      if (LooksLikeMail(messages[i])) {
        ready_.push_back({part, messages[i]});
      } else {
        skip_(part, "not a mail message (no header block)");
      }
    }
    return;
  }
  if (bytes.empty()) {
    skip_(name, "empty file");
  } else if (!LooksLikeMail(bytes)) {
    skip_(name, "not a mail message (no header block)");
  } else {
    ready_.push_back({name, bytes});
  }
}

bool MailSource::Next(MailMessage* message) {
  while (ready_.empty() && !files_.empty()) {
    const std::string path = files_.front();
    files_.pop_front();
    ReadFile(path);
  }
  if (ready_.empty()) return false;
  *message = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

}  // namespace varnolt::cli
