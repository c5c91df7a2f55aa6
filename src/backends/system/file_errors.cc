#include "backends/system/file_errors.h"

#include <sys/stat.h>

#include <cerrno>

namespace varnolt {
namespace {

bool FolderOfExists(const std::string& fs_path) {
  const size_t slash = fs_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : fs_path.substr(0, slash));
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

ComError FileError(int err, FileAccess access, const std::string& fs_path) {
  switch (err) {
    case ENOENT:
      if (access == FileAccess::kRead && FolderOfExists(fs_path)) return RuntimeError(kFileNotFound);
      return RuntimeError(kPathNotFound);
    case ENOTDIR:
      return RuntimeError(kPathNotFound);
    case EACCES:
    case EPERM:
      return RuntimeError(kPermissionDenied);
    default:
      return RuntimeError(kPathFileAccessError);
  }
}

}  // namespace varnolt
