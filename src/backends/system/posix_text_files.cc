#include "backends/system/posix_text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "backends/system/file_errors.h"
#include "backends/system/new_files.h"
#include "backends/system/posix_file_io.h"

namespace varnolt {
namespace {

class BufferReader final : public TextReader {
 public:
  explicit BufferReader(std::string content) : content_(std::move(content)) {}

  bool ReadLine(std::string* line) override {
    if (pos_ >= content_.size()) return false;
    const size_t lf = content_.find('\n', pos_);
    if (lf == std::string::npos) {  // a last line without ending
      line->assign(content_, pos_);
      pos_ = content_.size();
      return true;
    }
    const size_t end = lf > pos_ && content_[lf - 1] == '\r' ? lf - 1 : lf;
    line->assign(content_, pos_, end - pos_);
    pos_ = lf + 1;
    return true;
  }

 private:
  std::string content_;
  size_t pos_ = 0;
};

}  // namespace

void PosixTextFiles::AppendLine(const std::string& path, const std::string& text) {
  const std::string fs_path = ToFileSystemPath(path);
  const int err = AppendWholeLine(fs_path, text, "\r\n");
  if (err != 0) throw FileError(err, FileAccess::kWrite, fs_path);
}

std::unique_ptr<TextReader> PosixTextFiles::OpenForReading(const std::string& path) {
  std::optional<ComError> error;
  std::unique_ptr<TextReader> reader = TryOpenForReading(path, &error);
  if (!reader) throw *error;
  return reader;
}

std::unique_ptr<TextReader> PosixTextFiles::TryOpenForReading(const std::string& path,
                                                              std::optional<ComError>* error) {
  const std::string fs_path = ToFileSystemPath(path);
  std::string content;
  const int err = ReadWholeFile(fs_path, &content);
  if (err != 0) {
    error->emplace(FileError(err, FileAccess::kRead, fs_path));
    return nullptr;
  }
  return std::make_unique<BufferReader>(std::move(content));
}

CreateDirectoryResult PosixTextFiles::CreateDirectory(const std::string& path) {
  CreateDirectoryResult result;
  const int error = CreateFolder(ToFileSystemPath(path));
  if (error == 0) {
    result.created = true;
    return result;
  }
  result.error_code = error;
  result.already_exists = error == EEXIST;
  return result;
}

namespace {

class LockedFile : public FileClaim {
 public:
  explicit LockedFile(int fd) : fd_(fd) {}
  ~LockedFile() override { ::close(fd_); }  // closing drops the lock
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

 private:
  int fd_;
};

bool SameFile(int fd, const std::string& fs_path) {
  struct stat held {}, named {};
  return ::fstat(fd, &held) == 0 && ::stat(fs_path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

FileClaimResult PosixTextFiles::ClaimFile(const std::string& path) {
  const std::string fs_path = ToFileSystemPath(path);
  FileClaimResult result;
  // A holder deletes the file it is done with: a lock won on a deleted file
  // holds nothing, so the claim starts over on the file now at the path.
  for (int attempt = 0; attempt < 16; ++attempt) {
    bool created = true;
    int fd = ::open(fs_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (fd >= 0) HandOverNewFile(fd, fs_path);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      fd = ::open(fs_path.c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;
      // Another user's file that this one may not lock: left to its holder.
      if (fd < 0 && (errno == EACCES || errno == EPERM)) {
        result.held_elsewhere = true;
        return result;
      }
    }
    if (fd < 0) {
      result.error_code = errno;
      return result;
    }
    // An open-file-description lock: it excludes the other claims of this
    // process as well as other processes', and goes with the descriptor.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EAGAIN || error == EACCES) {
        result.held_elsewhere = true;
      } else {
        result.error_code = error;
      }
      return result;
    }
    if (!SameFile(fd, fs_path)) {
      ::close(fd);
      continue;
    }
    result.claim = std::make_unique<LockedFile>(fd);
    result.created = created;
    return result;
  }
  result.held_elsewhere = true;  // claimed and released again and again meanwhile: others are at it
  return result;
}

int32_t PosixTextFiles::GetFileAttributes(const std::string& path) {
  struct stat st {};
  if (::stat(ToFileSystemPath(path).c_str(), &st) != 0) return kInvalidFileAttributes;
  return S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeNormal;
}

int PosixTextFiles::CreateEmptyFile(const std::string& path) {
  return CreateFileIfMissing(ToFileSystemPath(path));
}

int PosixTextFiles::DeleteFile(const std::string& path) {
  return ::unlink(ToFileSystemPath(path).c_str()) == 0 ? 0 : errno;
}

}  // namespace varnolt
