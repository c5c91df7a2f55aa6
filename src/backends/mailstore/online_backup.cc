#include "backends/mailstore/online_backup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "backends/mailstore/store_errors.h"
#include "backends/sqlite/database.h"
#include "backends/system/new_files.h"

namespace varnolt {
namespace {

constexpr char kSqliteHeader[] = "SQLite format 3";  // with its NUL: 16 bytes

[[noreturn]] void ThrowCopyFailure(int, const std::string& message) { throw StoreDatabaseError(message); }

}  // namespace

bool IsSqliteDatabase(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char header[sizeof kSqliteHeader] = {};
  return in.read(header, sizeof header) && std::memcmp(header, kSqliteHeader, sizeof header) == 0;
}

void CopyDatabaseOnline(const std::string& source, const std::string& destination) {
  if (access(destination.c_str(), F_OK) == 0) throw StoreDatabaseError(destination + ": already exists");
  try {
    // Read-write without create: a live WAL database needs its shared-memory file.
    sqlite::OpenOptions existing;
    existing.create_if_missing = false;
    std::unique_ptr<sqlite::Database> from = sqlite::Database::Open(source, existing, ThrowCopyFailure);
    // The copy is as private as what it copies (SQLite would make it readable by everyone).
    struct stat original {};
    const int made = CreateFileIfMissing(
        destination, ::stat(source.c_str(), &original) == 0 ? original.st_mode & 0777 : kPrivateFileMode);
    if (made != 0) throw StoreDatabaseError(destination + ": " + std::strerror(made));
    std::unique_ptr<sqlite::Database> to = sqlite::Database::Open(destination, sqlite::OpenOptions{}, ThrowCopyFailure);
    sqlite::CopyDatabase(*from, *to);
  } catch (...) {
    unlink(destination.c_str());
    unlink((destination + "-journal").c_str());
    throw;
  }
}

}  // namespace varnolt
