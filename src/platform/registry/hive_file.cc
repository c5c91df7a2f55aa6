#include "platform/registry/hive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/registry/registry.h"
#include "platform/system/posix_file_io.h"

namespace varnolt {
namespace {

int32_t StatusFromErrno(int err) {
  return err == EACCES || err == EPERM || err == EROFS ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Holds an exclusive flock on a file for its lifetime.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = errno;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace

int32_t HiveFile::Read(HiveDocument* doc) const {
  std::string text;
  const int err = ReadWholeFile(path_, &text);
  if (err == ENOENT) {
    *doc = HiveDocument();
    return ERROR_SUCCESS;
  }
  if (err != 0) return StatusFromErrno(err);
  *doc = HiveDocument::Parse(text);
  return ERROR_SUCCESS;
}

int32_t HiveFile::Modify(const std::function<int32_t(HiveDocument& doc, bool* changed)>& change) const {
  FileLock lock(path_ + ".lock");
  if (lock.error() != 0) return StatusFromErrno(lock.error());
  HiveDocument doc;
  int32_t status = Read(&doc);
  if (status != ERROR_SUCCESS) return status;
  bool changed = false;
  status = change(doc, &changed);
  if (status != ERROR_SUCCESS || !changed) return status;
  return Replace(doc.Serialize());
}

int32_t HiveFile::Replace(const std::string& text) const {
  static std::atomic<unsigned> counter{0};
  const std::string temp = path_ + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++counter);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return StatusFromErrno(errno);
  struct stat old {};
  if (::stat(path_.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);  // keep the hive's permissions
  int err = 0;
  if (!WriteAll(fd, text) || ::fsync(fd) != 0) err = errno != 0 ? errno : EIO;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path_.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return StatusFromErrno(err);
  }
  return ERROR_SUCCESS;
}

}  // namespace varnolt
