// `log`: the filter's text log, whole, its last lines, or followed as it grows.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

#include "hosting/registry_values.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/file_io.h"

namespace varnolt::cli {
namespace {

constexpr int kFollowPollMs = 200;
constexpr size_t kFollowDefaultLines = 10;

struct LogOptions {
  int64_t lines = -1;  // -1: the whole log
  bool follow = false;
};

volatile std::sig_atomic_t g_stop_following = 0;

void StopFollowing(int) { g_stop_following = 1; }

// The last count lines of text (a line ends in LF; a last line without one counts).
std::string LastLines(const std::string& text, size_t count) {
  if (count == 0) return "";
  size_t at = text.size();
  if (at > 0 && text[at - 1] == '\n') --at;
  for (size_t seen = 0; at > 0; --at) {
    if (text[at - 1] == '\n' && ++seen == count) break;
  }
  return text.substr(at);
}

// False when standard output is gone (a closed pipe): following then ends.
bool WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno == EPIPE) return false;
      throw hosting::CommandError(std::string("cannot write standard output: ") + std::strerror(errno));
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads what the file holds from offset on; a file that was replaced or cut
// shorter is read from its start.
std::string ReadNew(const std::string& path, ino_t* inode, off_t* offset) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return "";
  if (info.st_ino != *inode || info.st_size < *offset) {
    *inode = info.st_ino;
    *offset = 0;
  }
  if (info.st_size == *offset) return "";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string bytes(static_cast<size_t>(info.st_size - *offset), '\0');
  const ssize_t n = pread(fd, bytes.data(), bytes.size(), *offset);
  close(fd);
  if (n <= 0) return "";
  bytes.resize(static_cast<size_t>(n));
  *offset += n;
  return bytes;
}

// Waits for the next poll; false when a signal asked to stop or the reader of
// standard output went away.
bool WaitForMore() {
  pollfd out{STDOUT_FILENO, 0, 0};
  const int ready = poll(&out, 1, kFollowPollMs);
  if (g_stop_following) return false;
  return !(ready > 0 && (out.revents & (POLLERR | POLLHUP | POLLNVAL)));
}

void Follow(const std::string& path, size_t lines) {
  struct sigaction action {};
  action.sa_handler = StopFollowing;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ino_t inode = 0;
  off_t offset = 0;
  bool first = true;
  do {
    std::string bytes = ReadNew(path, &inode, &offset);
    if (first && !bytes.empty()) {
      bytes = LastLines(bytes, lines);
      first = false;
    }
    if (!bytes.empty() && !WriteAll(bytes)) return;
  } while (WaitForMore());
}

void RunLog(Session& session, const LogOptions& options) {
  if (options.lines < -1) throw UsageError("-n takes a number of lines, 0 or more");
  // Without a registry or a constructor string there is no data folder to look in.
  hosting::RequireHiveFile(session.Config().registry_path);
  const std::string data_folder = session.DataFolder();
  if (data_folder.empty()) {
    throw hosting::CommandError(
        "the constructor string is empty, so the filter has no data folder and writes no log (" +
        std::string(hosting::kRepairAdvice) + ")");
  }
  const std::string path = ToFileSystemPath(LogFilePath(data_folder));
  if (options.follow) {
    Follow(path, options.lines < 0 ? kFollowDefaultLines : static_cast<size_t>(options.lines));
    return;
  }
  // Before the filter wrote anything there is no file, and nothing to show.
  if (access(path.c_str(), F_OK) != 0) return;
  const std::string bytes = ReadFileBytes(path);
  WriteStandardOutput(options.lines < 0 ? bytes : LastLines(bytes, static_cast<size_t>(options.lines)));
}

}  // namespace

void AddLogCommand(CLI::App& app, Session& session) {
  auto options = std::make_shared<LogOptions>();
  CLI::App* log = app.add_subcommand("log", "The filter's text log (Varnolt.log in the data folder)");
  log->add_option("-n,--lines", options->lines, "Only the last N lines");
  log->add_flag("-f,--follow", options->follow,
                "Keep printing lines as the filter writes them (the last 10, or N, first); "
                "ends on Ctrl-C, SIGTERM, or when the reader of the output goes away");
  log->callback([&session, options] { RunLog(session, *options); });
}

}  // namespace varnolt::cli
