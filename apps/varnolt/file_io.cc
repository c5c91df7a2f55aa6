#include "varnolt/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "backends/system/new_files.h"
#include "backends/system/posix_file_io.h"
#include "varnolt/cli_errors.h"

namespace varnolt::cli {
namespace {

std::string ReadDescriptor(int fd, const std::string& name) {
  std::string bytes;
  if (const int error = ReadWholeDescriptor(fd, &bytes); error != 0) {
    throw hosting::CommandError("cannot read " + name + ": " + std::strerror(error));
  }
  return bytes;
}

void WriteDescriptor(int fd, const std::string& bytes, const std::string& name) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw hosting::CommandError("cannot write " + name + ": " + std::strerror(errno));
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace

std::string ReadFileBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw hosting::CommandError("cannot read " + path + ": " + std::strerror(errno));
  try {
    std::string bytes = ReadDescriptor(fd, path);
    close(fd);
    return bytes;
  } catch (...) {
    close(fd);
    throw;
  }
}

std::string ReadStandardInput() { return ReadDescriptor(STDIN_FILENO, "standard input"); }

void ReplaceFile(const std::string& path, const std::string& bytes, mode_t new_file_mode) {
  const int error = ReplaceWholeFile(path, bytes, new_file_mode);
  if (error != 0) throw hosting::CommandError("cannot write " + path + ": " + std::strerror(error));
}

void WriteStandardOutput(const std::string& bytes) {
  std::cout.flush();  // keep the order of anything printed before
  WriteDescriptor(STDOUT_FILENO, bytes, "standard output");
}

}  // namespace varnolt::cli
