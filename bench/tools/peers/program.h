// Running the peer filters' programs: one process per message, and the
// daemons (rspamd, its Redis) that live for one evaluation.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnolt::eval {

// Runs a program to its end with the given file (or nothing) on its standard
// input and returns what it printed on its standard output; *status is
// waitpid's. Throws when the program cannot be started.
std::string RunProgram(const std::vector<std::string>& argv, int* status, const std::string& stdin_file = {});

// Whether a program of this name is on PATH.
bool OnPath(const std::string& program);

// A port on 127.0.0.1 that nothing listens on at the moment of asking.
int FreeLoopbackPort();

// A daemon started in a process group of its own, its output sent to a log
// file; stopped (the whole group, SIGTERM then SIGKILL) by its destructor.
class Daemon {
 public:
  Daemon(const std::vector<std::string>& argv, const std::string& log_file);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Waits until the daemon accepts connections on 127.0.0.1:port; throws when
  // it exits first or does not listen within the time given.
  void WaitForPort(int port, int seconds) const;

 private:
  bool Alive() const;

  pid_t pid_;
  std::string name_;
  std::string log_file_;
  mutable bool exited_ = false;
};

// The bytes of the regular files in a folder, its subfolders included.
uint64_t FolderBytes(const std::string& folder);

}  // namespace varnolt::eval
