// Consistent copies of live SQLite databases (the store, the spam engine's
// models) through SQLite's online backup: the copy is one committed state of
// the source, taken while other processes go on reading and writing it.
#pragma once

#include <string>

namespace varnolt {

// True when the file at path starts with the SQLite database header.
bool IsSqliteDatabase(const std::string& path);

// Copies the database at source into a new file at destination (which must
// not exist yet; its folder must). Waits for a writer of the source as the
// store does. Throws ComError kStoreDatabaseError naming the failing file;
// a failed copy leaves no destination file behind.
void CopyDatabaseOnline(const std::string& source, const std::string& destination);

}  // namespace varnolt
