// Runs another program (doveadm) without a shell, its output collected, for
// at most a given time.
#pragma once

#include <string>
#include <vector>

namespace varnolt::dashboard {

struct ProgramResult {
  int exit_status = -1;  // -1: it could not be started, was killed or ran out of time
  std::string output;    // its standard output
  std::string errors;    // its standard error, or why it could not be run
};

// argv[0] is the program's path. Standard input is /dev/null; nothing else
// of this process's files is passed on. Past timeout_ms it is killed.
ProgramResult RunProgram(const std::vector<std::string>& argv, int timeout_ms);

}  // namespace varnolt::dashboard
