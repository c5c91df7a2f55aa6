#include <algorithm>

#include "platform/text_files.h"

namespace varnolt {

std::string ToFileSystemPath(const std::string& path) {
  std::string mapped = path;
  std::replace(mapped.begin(), mapped.end(), '\\', '/');
  return mapped;
}

}  // namespace varnolt
