#include "dovecot/postgres_module.h"

#include <dlfcn.h>

#include <stdexcept>

#include "platform/module/loaded_library.h"

namespace varnolt::dovecot {
namespace {

void* LoadModule() {
  const std::string self = LoadedLibraryPath(reinterpret_cast<const void*>(&LoadModule));
  const size_t slash = self.rfind('/');
  const std::string path = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" +
                           kPostgresModuleFile;
  // Never closed: the backend's connections and models live until the process ends.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (why ? why : "unknown error"));
  }
  return handle;
}

void* LoadEntry(const char* name) {
  // One process serves one home: loaded once, kept for the process.
  static void* const handle = LoadModule();
  void* entry = dlsym(handle, name);
  if (!entry) throw std::runtime_error(std::string(kPostgresModuleFile) + " lacks its entry point " + name);
  return entry;
}

}  // namespace

std::shared_ptr<engine::ModelBackend> LoadedPostgresModels(const std::string& conninfo) {
  static const auto entry = reinterpret_cast<PostgresModelsEntry>(LoadEntry(kPostgresModuleEntry));
  return std::shared_ptr<engine::ModelBackend>(entry(conninfo.c_str()));
}

std::unique_ptr<journal::Journal> LoadedPostgresJournal(const std::string& conninfo, const std::string& server) {
  static const auto entry = reinterpret_cast<PostgresJournalEntry>(LoadEntry(kPostgresJournalEntry));
  return std::unique_ptr<journal::Journal>(entry(conninfo.c_str(), server.c_str()));
}

}  // namespace varnolt::dovecot
