#include "dovecot/postgres_module.h"

#include <dlfcn.h>

#include <stdexcept>

#include "platform/module/loaded_library.h"

namespace varnolt::dovecot {
namespace {

PostgresModelsEntry LoadEntry() {
  const std::string self = LoadedLibraryPath(reinterpret_cast<const void*>(&LoadEntry));
  const size_t slash = self.rfind('/');
  const std::string path = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" +
                           kPostgresModuleFile;
  // Never closed: the backend's connections and models live until the process ends.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (why ? why : "unknown error"));
  }
  void* entry = dlsym(handle, kPostgresModuleEntry);
  if (!entry) throw std::runtime_error(path + " lacks its entry point " + kPostgresModuleEntry);
  return reinterpret_cast<PostgresModelsEntry>(entry);
}

}  // namespace

std::shared_ptr<engine::ModelBackend> LoadedPostgresModels(const std::string& conninfo) {
  // One process serves one home: loaded once, kept for the process.
  static const PostgresModelsEntry entry = LoadEntry();
  return std::shared_ptr<engine::ModelBackend>(entry(conninfo.c_str()));
}

}  // namespace varnolt::dovecot
