#include "dashboard/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace varnolt::dashboard {
namespace {

// Output beyond this is dropped: a program's answer here is a few lines.
constexpr size_t kMaxOutput = 1 << 20;

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv, int timeout_ms) {
  ProgramResult result;
  if (argv.empty()) {
    result.errors = "no program to run";
    return result;
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    result.errors = std::string("cannot run ") + argv[0] + ": " + std::strerror(errno);
    return result;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    result.errors = std::string("cannot run ") + argv[0] + ": " + std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls here: the server has other threads.
    const int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(127);
    close_range(3, ~0U, 0);  // no client's socket or journal handle goes with it
    execv(args[0], args.data());
    const char failed[] = "cannot execute the program\n";
    if (write(2, failed, sizeof failed - 1) < 0) _exit(127);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    result.errors = std::string("cannot run ") + argv[0] + ": " + std::strerror(errno);
    close(out[0]);
    close(err[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.errors};
  int open_pipes = 2;
  bool timed_out = false;
  while (open_pipes > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        if (sinks[i]->size() < kMaxOutput) sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) {
    result.errors = argv[0] + " did not finish within " + std::to_string(timeout_ms / 1000) + " s and was stopped";
  } else if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else {
    result.errors += argv[0] + " was ended by signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  }
  return result;
}

}  // namespace varnolt::dashboard
