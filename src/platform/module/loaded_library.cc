#include "platform/module/loaded_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

namespace varnolt {

std::string LoadedLibraryPath(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') return "";
  // dli_fname is the name the object was loaded by, which may be relative.
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved) == nullptr) return "";
  return resolved;
}

}  // namespace varnolt
