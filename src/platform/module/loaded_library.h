// Where the code of this process lives on disk.
#pragma once

#include <string>

namespace varnolt {

// The absolute path of the loaded shared object (or executable) whose code or
// data holds the address; empty when it cannot be told.
std::string LoadedLibraryPath(const void* address);

}  // namespace varnolt
