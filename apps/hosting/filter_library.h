// The filter component in its shared library, loaded the way a store loads an
// in-process server: dlopen, then the library's entry points by name.
#pragma once

#include <memory>
#include <string>

#include "host/dll_entry.h"
#include "platform/com/class_factory.h"
#include "platform/com/com_error.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/platform.h"

namespace varnolt::hosting {

// The environment variable that names the library for `init`, overriding the search.
inline constexpr const char* kFilterLibraryVariable = "VARNOLT_FILTER_LIBRARY";
inline constexpr const char* kFilterLibraryName = "libvarnoltfilter.so";

class FilterLibrary {
 public:
  // Loads the library and finds its entry points. Throws CommandError naming
  // the path and the loader's message.
  static std::unique_ptr<FilterLibrary> Load(const std::string& path);

  // Hands the library this process's platform; needed before anything else.
  void AttachPlatform(Platform& platform);
  // The library records itself in the platform's registry.
  void RegisterServer();
  // The class factory of a class the library serves.
  ComPtr<IClassFactory> GetClassObject(const CLSID& clsid);

  const std::string& path() const { return path_; }

 private:
  FilterLibrary(std::string path, void* handle);
  void* Symbol(const char* name);

  std::string path_;
  // Never closed: the filter's objects and per-process state live until the process ends.
  void* handle_;
  VarnoltAttachPlatformFunction attach_ = nullptr;
  DllRegisterServerFunction register_ = nullptr;
  DllGetClassObjectFunction get_class_object_ = nullptr;
};

// The library `init` registers: $VARNOLT_FILTER_LIBRARY when set, else the
// first libvarnoltfilter.so found beside this program, in the top build folder
// above it (apps/varnolt/varnolt), or in ../lib. Throws CommandError when none exists.
std::string LocateFilterLibrary();

// "0x80004005".
std::string StatusText(HRESULT hr);

// The error as the command reports it: its description and its number
// (store and engine numbers HRESULT-style, runtime numbers as "error 13").
std::string ComErrorText(const ComError& error);

}  // namespace varnolt::hosting
