#include "backends/system/new_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace varnolt {
namespace {

std::string FolderOf(const std::string& fs_path) {
  std::string path = fs_path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Makes the rename in the folder survive a power cut. A folder this process
// may write but not read cannot be opened to sync: the rename stands.
int SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  const int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  return error;
}

}  // namespace

void HandOverNewFile(int fd, const std::string& fs_path) {
  if (::geteuid() != 0) return;  // only root can give a file away, and only root's files need it
  struct stat folder {}, made {};
  if (::stat(FolderOf(fs_path).c_str(), &folder) != 0) return;
  const int got = fd >= 0 ? ::fstat(fd, &made) : ::lstat(fs_path.c_str(), &made);
  if (got != 0 || (made.st_uid == folder.st_uid && made.st_gid == folder.st_gid)) return;
  const int changed = fd >= 0 ? ::fchown(fd, folder.st_uid, folder.st_gid)
                              : ::lchown(fs_path.c_str(), folder.st_uid, folder.st_gid);
  (void)changed;  // a file system without owners (a FAT stick, a squashed NFS root) keeps root's
}

int OpenOrCreate(const std::string& fs_path, int flags, mode_t mode) {
  flags &= ~(O_CREAT | O_EXCL);
  for (;;) {
    int fd = ::open(fs_path.c_str(), flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = ::open(fs_path.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
      HandOverNewFile(fd, fs_path);
      return fd;
    }
    if (errno != EEXIST) return -1;
    // Made by another process in between: open that one.
  }
}

int CreateFileIfMissing(const std::string& fs_path, mode_t mode) {
  const int fd = ::open(fs_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return errno == EEXIST ? 0 : errno;
  HandOverNewFile(fd, fs_path);
  ::close(fd);
  return 0;
}

int CreateFolder(const std::string& fs_path, mode_t mode) {
  if (::mkdir(fs_path.c_str(), mode) != 0) return errno;
  HandOverNewFile(-1, fs_path);
  return 0;
}

int ReplaceWholeFile(const std::string& fs_path, std::string_view bytes, mode_t new_file_mode) {
  static std::atomic<unsigned> counter{0};
  const std::string temporary = fs_path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++counter);
  struct stat old {};
  const bool existed = ::stat(fs_path.c_str(), &old) == 0;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? 0600 : new_file_mode);
  if (fd < 0) return errno;
  int error = 0;
  if (existed) {
    // The file's mode and owner are the administrator's choice: the new
    // content keeps them (an owner only root may give; others keep their own).
    if (::fchmod(fd, old.st_mode & 07777) != 0) error = errno;
    if (::geteuid() == 0 && ::fchown(fd, old.st_uid, old.st_gid) != 0 && error == 0) error = errno;
  } else {
    HandOverNewFile(fd, fs_path);
  }
  if (error == 0) error = WriteAll(fd, bytes);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), fs_path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  return SyncFolder(FolderOf(fs_path));
}

}  // namespace varnolt
