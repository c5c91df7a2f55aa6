// Text files and directories as the filter sees them. Paths are the texts the
// filter composes, with "\" as separator; every "\" becomes "/" when a path
// reaches the file system. Failures throw ComError with the runtime numbers
// (53 File not found, 70 Permission denied, 75 Path/File access error, 76 Path not found).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/com/com_error.h"

namespace varnolt {

// Maps the composed "\" separators to "/" for the file system.
std::string ToFileSystemPath(const std::string& path);

// Reads one text file line by line; lines end in CR LF, LF, or at the end of the file.
class TextReader {
 public:
  virtual ~TextReader() = default;
  // Stores the next line without its ending in *line; false at the end of the file.
  virtual bool ReadLine(std::string* line) = 0;
};

// Result of creating one directory or one new file.
struct CreateDirectoryResult {
  bool created = false;         // a new directory was made
  bool already_exists = false;  // something of that name was already there
  int error_code = 0;           // errno of the failure, 0 when created
};

// Held while it lives; destroying it releases the claim and keeps the file.
class FileClaim {
 public:
  virtual ~FileClaim() = default;
};

struct FileClaimResult {
  std::unique_ptr<FileClaim> claim;  // set when this caller holds the file
  bool created = false;              // held: a new file was made
  bool held_elsewhere = false;       // another holder, alive, has it
  int error_code = 0;                // errno when the file can be neither made nor claimed
};

class TextFiles {
 public:
  virtual ~TextFiles() = default;

  // Appends text + CR LF as one write, creating the file (never its directory)
  // when missing, for its owner and group only. A last line without ending is
  // ended first.
  virtual void AppendLine(const std::string& path, const std::string& text) = 0;

  // Opens an existing file for reading; throws 53 when it is missing.
  virtual std::unique_ptr<TextReader> OpenForReading(const std::string& path) = 0;

  // The same for a file that may well be missing: nullptr, and in *error what
  // OpenForReading would throw. The filter looks for the user's whitelist on
  // every message, and an exception costs far more than the lookup (in a mail
  // server whose unwinder masks signals at every frame, hundreds of system calls).
  virtual std::unique_ptr<TextReader> TryOpenForReading(const std::string& path,
                                                        std::optional<ComError>* error) = 0;

  // Creates one directory (not its parents).
  virtual CreateDirectoryResult CreateDirectory(const std::string& path) = 0;

  // -1 (all bits set) when nothing can be found at the path, else attribute bits
  // (0x10 directory, 0x80 normal file).
  virtual int32_t GetFileAttributes(const std::string& path) = 0;

  // Claims the file at path for this caller alone, creating it empty (for
  // its owner and group only) when missing: a lock on the file, which the
  // system drops when the claim is destroyed or its holder ends however it
  // ends (on shared storage as well, where the file server keeps the locks).
  // Of several callers at once, in any processes, exactly one holds it.
  virtual FileClaimResult ClaimFile(const std::string& path) = 0;

  // Makes an empty file (for its owner and group only) when nothing is at the
  // path; returns 0 when made or already there, else errno.
  virtual int CreateEmptyFile(const std::string& path) = 0;

  // Deletes a file; returns 0 on success, else errno.
  virtual int DeleteFile(const std::string& path) = 0;
};

constexpr int32_t kInvalidFileAttributes = -1;
constexpr int32_t kFileAttributeDirectory = 0x10;
constexpr int32_t kFileAttributeNormal = 0x80;

}  // namespace varnolt
