#include "platform/system/posix_text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system/file_errors.h"
#include "platform/system/posix_file_io.h"

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
  if (::mkdir(ToFileSystemPath(path).c_str(), 0777) == 0) {
    result.created = true;
    return result;
  }
  result.error_code = errno;
  result.already_exists = errno == EEXIST;
  return result;
}

CreateDirectoryResult PosixTextFiles::CreateNewFile(const std::string& path) {
  CreateDirectoryResult result;
  const int fd = ::open(ToFileSystemPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
  if (fd >= 0) {
    ::close(fd);
    result.created = true;
    return result;
  }
  result.error_code = errno;
  result.already_exists = errno == EEXIST;
  return result;
}

int32_t PosixTextFiles::GetFileAttributes(const std::string& path) {
  struct stat st {};
  if (::stat(ToFileSystemPath(path).c_str(), &st) != 0) return kInvalidFileAttributes;
  return S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeNormal;
}

int PosixTextFiles::DeleteFile(const std::string& path) {
  return ::unlink(ToFileSystemPath(path).c_str()) == 0 ? 0 : errno;
}

}  // namespace varnolt
