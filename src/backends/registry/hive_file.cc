#include "backends/registry/hive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <iconv.h>

#include <cerrno>
#include <filesystem>
#include <string_view>

#include "backends/system/new_files.h"
#include "backends/system/posix_file_io.h"
#include "platform/registry.h"

namespace varnolt {
namespace {

int32_t StatusFromErrno(int err) {
  return err == EACCES || err == EPERM || err == EROFS ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
}

// Holds an exclusive flock on a file for its lifetime.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = OpenOrCreate(path, O_RDWR | O_CLOEXEC);
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

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// Converts between encodings with iconv; false when the text is not valid in `from`.
bool Recode(const std::string& text, const char* from, const char* to, std::string* out) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->clear();
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char buffer[4096];
  bool ok = true;
  while (in_left > 0) {
    char* put = buffer;
    size_t put_left = sizeof buffer;
    const size_t rc = ::iconv(cd, &in, &in_left, &put, &put_left);
    out->append(buffer, sizeof buffer - put_left);
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  ::iconv_close(cd);
  return ok;
}

// The first line says what the file is; a blank file is an empty hive.
bool HasRegHeader(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return true;
  const size_t end = text.find_first_of("\r\n", begin);
  std::string first = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  while (!first.empty() && (first.back() == ' ' || first.back() == '\t')) first.pop_back();
  return first == "Windows Registry Editor Version 5.00" || first == "REGEDIT4";
}

}  // namespace

int32_t HiveFile::Read(HiveDocument* doc) const {
  bool utf16 = false;
  return ReadAs(doc, &utf16);
}

int32_t HiveFile::ReadAs(HiveDocument* doc, bool* utf16) const {
  std::string text;
  const int err = ReadWholeFile(path_, &text);
  *utf16 = false;
  if (err == ENOENT) {
    *doc = HiveDocument();
    return ERROR_SUCCESS;
  }
  if (err != 0) return StatusFromErrno(err);
  if (text.starts_with(kUtf16LeMark)) {
    std::string utf8;
    if (!Recode(text.substr(kUtf16LeMark.size()), "UTF-16LE", "UTF-8", &utf8)) return ERROR_BADDB;
    text = std::move(utf8);
    *utf16 = true;
  } else if (text.starts_with(kUtf8Mark)) {
    text.erase(0, kUtf8Mark.size());
  }
  if (!HasRegHeader(text)) return ERROR_BADDB;
  *doc = HiveDocument::Parse(text);
  return ERROR_SUCCESS;
}

int32_t HiveFile::Modify(const std::function<int32_t(HiveDocument& doc, bool* changed)>& change) const {
  FileLock lock(path_ + ".lock");
  if (lock.error() != 0) return StatusFromErrno(lock.error());
  RemoveStaleTemporaries();
  HiveDocument doc;
  bool utf16 = false;
  int32_t status = ReadAs(&doc, &utf16);
  if (status != ERROR_SUCCESS) return status;
  bool changed = false;
  status = change(doc, &changed);
  if (status != ERROR_SUCCESS || !changed) return status;
  if (!utf16) return Replace(doc.Serialize());
  std::string encoded;
  if (!Recode(doc.Serialize(), "UTF-8", "UTF-16LE", &encoded)) return ERROR_INVALID_PARAMETER;
  return Replace(std::string(kUtf16LeMark) + encoded);
}

// Only a writer holding the lock has a temporary file, so while we hold it
// every "<hive>.tmp.<pid>.<n>" is what a killed writer left behind.
void HiveFile::RemoveStaleTemporaries() const {
  namespace fs = std::filesystem;
  const fs::path hive(path_);
  const std::string prefix = hive.filename().string() + ".tmp.";
  std::error_code error;
  const fs::path folder = hive.has_parent_path() ? hive.parent_path() : fs::path(".");
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.find_first_not_of("0123456789.", prefix.size()) != std::string::npos) continue;
    std::error_code ignored;
    fs::remove(it->path(), ignored);
  }
}

int32_t HiveFile::Replace(const std::string& text) const {
  const int err = ReplaceWholeFile(path_, text);
  return err == 0 ? ERROR_SUCCESS : StatusFromErrno(err);
}

}  // namespace varnolt
