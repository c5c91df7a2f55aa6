// Runs the built varnolt binary against a home in a fresh temporary folder.
// Header-only: each test program of this folder includes it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr const char* kGtube = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";
constexpr const char* kUrlPrefix = "file://./backofficestorage/";

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A message from outside with the usual headers and a plain body.
inline std::string MakeMessage(const std::string& from, const std::string& subject, const std::string& body) {
  return "Return-Path: <bounce@example.net>\r\n"
         "Received: from mx.example.net (mx.example.net [192.0.2.10])\r\n"
         "\tby mail.example.com with ESMTP; Mon, 21 Dec 2026 09:00:00 +0100\r\n"
         "From: " + from + "\r\n"
         "To: Alice <alice@example.com>\r\n"
         "Subject: " + subject + "\r\n"
         "Date: Mon, 21 Dec 2026 09:00:00 +0100\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n"
         "\r\n" + body + "\r\n";
}

inline std::string SpamFrom(const std::string& from, const std::string& subject) {
  return MakeMessage(from, subject, std::string("Test message for the filter.\r\n") + kGtube);
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnolt-cli-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    home_ = dir_ + "/home";
    const RunResult init = Run({"init"});
    ASSERT_EQ(0, init.status) << init.err;
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  static std::string Binary() { return std::string(VARNOLT_BINARY_DIR) + "/apps/varnolt/varnolt"; }

  // Starts varnolt --home <home> args..., with stdin from in_path (or
  // /dev/null) and stdout/stderr into files named after tag.
  pid_t Start(const std::vector<std::string>& args, const std::string& tag, const std::string& in_path = "") {
    std::vector<std::string> argv_text{Binary(), "--home", home_};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string in = in_path.empty() ? "/dev/null" : in_path;
    const std::string out = OutPath(tag), err = ErrPath(tag);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(0, rc) << "cannot start " << Binary();
    return pid;
  }

  RunResult Finish(pid_t pid, const std::string& tag) {
    int wait_status = 0;
    RunResult result;
    if (pid > 0 && waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status)) {
      result.status = WEXITSTATUS(wait_status);
    }
    result.out = ReadAll(OutPath(tag));
    result.err = ReadAll(ErrPath(tag));
    return result;
  }

  RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::string in_path;
    if (!input.empty()) {
      in_path = dir_ + "/stdin";
      WriteAll(in_path, input);
    }
    return Finish(Start(args, "run", in_path), "run");
  }

  // Runs a command that must succeed; its stdout without the last line break.
  std::string Ok(const std::vector<std::string>& args, const std::string& input = "") {
    const RunResult result = Run(args, input);
    EXPECT_EQ(0, result.status) << "varnolt " << ::testing::PrintToString(args) << ": " << result.err;
    std::string out = result.out;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  // Writes a message file below the test folder and returns its path.
  std::string MessageFile(const std::string& name, const std::string& bytes) {
    fs::create_directories(dir_ + "/messages");
    const std::string path = dir_ + "/messages/" + name;
    WriteAll(path, bytes);
    return path;
  }

  // Delivers one message and returns the URL where the filter left it.
  std::string Deliver(const std::string& mailbox, const std::string& bytes) {
    return Ok({"deliver", mailbox, MessageFile("delivered.eml", bytes)});
  }

  Json Items(const std::string& mailbox, const std::string& folder, bool all = true) {
    std::vector<std::string> args{"ls", mailbox, folder, "--json"};
    if (all) args.push_back("--all");
    return Json::parse(Ok(args));
  }

  // The item of a folder with that subject; null when there is none.
  Json ItemBySubject(const std::string& mailbox, const std::string& folder, const std::string& subject) {
    for (const Json& item : Items(mailbox, folder)) {
      if (item["subject"] == subject) return item;
    }
    return nullptr;
  }

  std::string Log() { return Ok({"log"}); }

  // How often text occurs in the filter's log.
  int LogCount(const std::string& text) {
    const std::string log = Log();
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  std::string DataPath(const std::string& relative) const { return home_ + "/data/" + relative; }

  std::string dir_;
  std::string home_;

 private:
  std::string OutPath(const std::string& tag) const { return dir_ + "/" + tag + ".out"; }
  std::string ErrPath(const std::string& tag) const { return dir_ + "/" + tag + ".err"; }
};

}  // namespace
}  // namespace varnolt
