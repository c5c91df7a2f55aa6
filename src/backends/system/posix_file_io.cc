#include "backends/system/posix_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "backends/system/new_files.h"

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

// Waits for a write lock on the whole file, released when fd is closed.
void LockWholeFile(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however far it grows
  int command = F_OFD_SETLKW;
  while (::fcntl(fd, command, &lock) != 0) {
    if (errno == EINTR) continue;
    // A kernel without OFD locks: a process-owned lock, which still excludes other processes and servers.
    if (errno == EINVAL && command == F_OFD_SETLKW) {
      command = F_SETLKW;
      continue;
    }
    return;
  }
}

}  // namespace

int AppendWholeLine(const std::string& fs_path, const std::string& text, const std::string& ending) {
  constexpr int kFlags = O_APPEND | O_CLOEXEC;
  // The log holds whole messages at its highest level, a whitelist whom a user
  // trusts: neither is for other users of the machine, and one that root
  // makes for a home the mail server runs is the server's.
  int fd = OpenOrCreate(fs_path, O_RDWR | kFlags);
  if (fd < 0 && errno == EACCES) fd = OpenOrCreate(fs_path, O_WRONLY | kFlags);
  if (fd < 0) return errno;
  // The log and the whitelists may sit in a data folder that several mail
  // servers share over NFS, where O_APPEND is not atomic: each client appends
  // at the end of the file as its own cache knows it, so two servers can
  // write over each other's lines. Appenders therefore take turns under a
  // write lock on the whole file, an fcntl byte-range lock because NFS
  // forwards those to the server's lock manager (flock may stay local to one
  // client). Taking the lock makes the NFS client fetch the file's current
  // size, and it sends our bytes to the server before another client gets
  // the lock, so every line lands whole after the last one. The lock belongs
  // to this open file (an OFD lock), so threads of one process take turns too
  // and another descriptor's close never drops it. Without a lock manager
  // (ENOLCK, an NFS mount with "nolock") the single write still keeps lines
  // whole on a local disk.
  LockWholeFile(fd);

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

int ReadWholeDescriptor(int fd, std::string* content) {
  // Read straight into the string, sized up front for a file: a message may
  // be tens of megabytes, and growing by doubling would hold it twice.
  std::string& bytes = *content;
  bytes.clear();
  struct stat info {};
  size_t capacity = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<size_t>(info.st_size) + 1 : 0;
  size_t size = 0;
  for (;;) {
    if (size == capacity) capacity = std::max<size_t>(capacity + capacity / 2, size + (1 << 16));
    if (bytes.size() != capacity) bytes.resize(capacity);
    const ssize_t n = ::read(fd, bytes.data() + size, capacity - size);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      bytes.resize(size);
      return err;
    }
    size += static_cast<size_t>(n);
  }
  bytes.resize(size);
  return 0;
}

int ReadWholeFile(const std::string& fs_path, std::string* content) {
  const int fd = ::open(fs_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ReadWholeDescriptor(fd, content);
  ::close(fd);
  return err;
}

}  // namespace varnolt
