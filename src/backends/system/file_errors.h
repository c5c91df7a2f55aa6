// Turns the errno of a failed file operation into the error the filter reports.
#pragma once

#include <string>

#include "platform/com/com_error.h"

namespace varnolt {

enum class FileAccess { kRead, kWrite };

// ENOENT: 53 "File not found" when reading a file whose folder exists, else
// 76 "Path not found"; ENOTDIR: 76; EACCES, EPERM: 70 "Permission denied";
// anything else: 75 "Path/File access error". fs_path is the mapped path.
ComError FileError(int err, FileAccess access, const std::string& fs_path);

}  // namespace varnolt
