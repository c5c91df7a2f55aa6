#include "hosting/filter_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "hosting/command_error.h"

namespace varnolt::hosting {
namespace {

namespace fs = std::filesystem;

void CheckStatus(HRESULT hr, const std::string& call, const std::string& path) {
  if (Failed(hr)) throw CommandError(call + " of " + path + " failed (" + StatusText(hr) + ")");
}

}  // namespace

std::string StatusText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

FilterLibrary::FilterLibrary(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}

std::unique_ptr<FilterLibrary> FilterLibrary::Load(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw CommandError("cannot load the filter library " + path + ": " + (why ? why : "unknown error"));
  }
  std::unique_ptr<FilterLibrary> library(new FilterLibrary(path, handle));
  library->attach_ = reinterpret_cast<VarnoltAttachPlatformFunction>(library->Symbol("VarnoltAttachPlatform"));
  library->register_ = reinterpret_cast<DllRegisterServerFunction>(library->Symbol("DllRegisterServer"));
  library->get_class_object_ = reinterpret_cast<DllGetClassObjectFunction>(library->Symbol("DllGetClassObject"));
  return library;
}

void* FilterLibrary::Symbol(const char* name) {
  void* symbol = dlsym(handle_, name);
  if (!symbol) throw CommandError(path_ + " is not the filter library: it has no entry point " + name);
  return symbol;
}

void FilterLibrary::AttachPlatform(Platform& platform) {
  CheckStatus(attach_(&platform), "VarnoltAttachPlatform", path_);
}

void FilterLibrary::RegisterServer() { CheckStatus(register_(), "DllRegisterServer", path_); }

ComPtr<IClassFactory> FilterLibrary::GetClassObject(const CLSID& clsid) {
  ComPtr<IClassFactory> factory;
  CheckStatus(get_class_object_(&clsid, &IID_IClassFactory, factory.OutVoid()), "DllGetClassObject", path_);
  if (!factory) throw CommandError("DllGetClassObject of " + path_ + " returned no class factory");
  return factory;
}

std::string LocateFilterLibrary() {
  if (const char* chosen = std::getenv(kFilterLibraryVariable); chosen && *chosen) {
    std::error_code ignored;
    if (!fs::is_regular_file(chosen, ignored)) {
      throw CommandError(std::string(kFilterLibraryVariable) + " names " + chosen + ", which is not a file");
    }
    return fs::absolute(chosen).lexically_normal().string();
  }
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) throw CommandError("cannot tell where this program lives: " + error.message());
  const fs::path dir = exe.parent_path();
  for (const fs::path& candidate : {dir / kFilterLibraryName, dir / ".." / ".." / kFilterLibraryName,
                                    dir / ".." / "lib" / kFilterLibraryName}) {
    std::error_code ignored;
    if (fs::is_regular_file(candidate, ignored)) return candidate.lexically_normal().string();
  }
  throw CommandError(std::string("cannot find ") + kFilterLibraryName + " beside " + exe.string() + " (set " +
                     kFilterLibraryVariable + " to its path)");
}

std::string ComErrorText(const ComError& error) {
  // Store and engine numbers are HRESULT-style (negative), runtime numbers small.
  const std::string number =
      error.number() < 0 ? StatusText(error.number()) : "error " + std::to_string(error.number());
  return error.description() + " (" + number + ")";
}

}  // namespace varnolt::hosting
