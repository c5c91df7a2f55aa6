#include "platform/system/posix_file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace varnolt {
namespace {

// Whether the file is non-empty and its last byte is not LF. A file we may
// only write (not read) is taken as properly ended.
bool LastLineIsOpen(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size == 0) return false;
  char last = '\n';
  return ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}

}  // namespace

int AppendWholeLine(const std::string& fs_path, const std::string& text, const std::string& ending) {
  constexpr int kFlags = O_APPEND | O_CREAT | O_CLOEXEC;
  // The log holds whole messages at its highest level, a whitelist whom a user
  // trusts: neither is for other users of the machine.
  constexpr mode_t kNewFileMode = 0660;
  int fd = ::open(fs_path.c_str(), O_RDWR | kFlags, kNewFileMode);
  if (fd < 0 && errno == EACCES) fd = ::open(fs_path.c_str(), O_WRONLY | kFlags, kNewFileMode);
  if (fd < 0) return errno;
  // Appenders of ours take turns, so the last-byte test never sees another
  // writer's line half-way (the file size grows page by page during a write).
  // Without the lock (ENOLCK) the single write still keeps lines whole.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }

  std::string buffer;
  buffer.reserve(text.size() + 2 * ending.size());
  if (LastLineIsOpen(fd)) buffer += ending;
  buffer += text;
  buffer += ending;

  int error = 0;
  size_t done = 0;
  while (done < buffer.size()) {
    // Normally one call; a short write (disk full, signal) goes on with the rest.
    const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

int ReadWholeFile(const std::string& fs_path, std::string* content) {
  const int fd = ::open(fs_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  content->clear();
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return err;
    }
    content->append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return 0;
}

}  // namespace varnolt
