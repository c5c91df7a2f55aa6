// Whole-file reads and writes for the command line, with failures as command
// errors that name the file.
#pragma once

#include <string>

namespace varnolt::cli {

// The file's bytes. Throws CommandError when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Everything on standard input.
std::string ReadStandardInput();

// Writes the bytes to a temporary file beside path and renames it over path,
// so a reader never sees half a file.
void ReplaceFile(const std::string& path, const std::string& bytes);

// Writes bytes to standard output unchanged. Throws CommandError when the
// output cannot take them (a closed pipe, a full disk).
void WriteStandardOutput(const std::string& bytes);

}  // namespace varnolt::cli
