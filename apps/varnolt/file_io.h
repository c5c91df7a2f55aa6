// Whole-file reads and writes for the command line, with failures as command
// errors that name the file.
#pragma once

#include <string>

#include "backends/system/new_files.h"

namespace varnolt::cli {

// The file's bytes. Throws CommandError when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Everything on standard input.
std::string ReadStandardInput();

// Replaces the file atomically and durably (ReplaceWholeFile): a reader never
// sees half a file; an existing file keeps its mode and owner, a new one gets
// new_file_mode less the umask (and root's is handed to the folder's owner).
void ReplaceFile(const std::string& path, const std::string& bytes, mode_t new_file_mode = kPrivateFileMode);

// Writes bytes to standard output unchanged. Throws CommandError when the
// output cannot take them (a closed pipe, a full disk).
void WriteStandardOutput(const std::string& bytes);

}  // namespace varnolt::cli
