#include "backends/system/posix_text_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <map>
#include <thread>

#include "backends/system/file_errors.h"
#include "platform/com/com_error.h"
#include "support/fake_platform.h"

namespace varnolt {
namespace {

using ::testing::ElementsAre;

class TextFilesTest : public ::testing::Test {
 protected:
  std::vector<std::string> ReadLines(const std::string& path) {
    auto reader = files_.OpenForReading(path);
    std::vector<std::string> lines;
    std::string line;
    while (reader->ReadLine(&line)) lines.push_back(line);
    return lines;
  }

  int32_t ErrorNumberOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const ComError& e) {
      EXPECT_EQ(RuntimeErrorDescription(e.number()), e.description());
      return e.number();
    }
    return 0;
  }

  testing::FakePlatform platform_;
  PosixTextFiles files_;
  std::string dir_ = platform_.dir();
};

TEST_F(TextFilesTest, AppendsCrLfLinesAndEndsAnOpenLastLineFirst) {
  const std::string path = dir_ + "log.txt";
  files_.AppendLine(path, "first");
  files_.AppendLine(path, "");
  EXPECT_EQ("first\r\n\r\n", platform_.ReadFile(path));

  platform_.WriteFile(path, "hand edited");
  files_.AppendLine(path, "next");
  EXPECT_EQ("hand edited\r\nnext\r\n", platform_.ReadFile(path));
}

TEST_F(TextFilesTest, ANewFileIsForItsOwnerAndGroupOnlyAnOldOneKeepsItsMode) {
  const mode_t old_mask = ::umask(022);
  files_.AppendLine(dir_ + "Varnolt.log", "a whole message at level 4");
  platform_.WriteFile(dir_ + "shared.txt", "");
  ::chmod((dir_ + "shared.txt").c_str(), 0644);
  files_.AppendLine(dir_ + "shared.txt", "line");
  ::umask(old_mask);
  struct stat info {};
  ASSERT_EQ(0, ::stat((dir_ + "Varnolt.log").c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 0777);
  ASSERT_EQ(0, ::stat((dir_ + "shared.txt").c_str(), &info));
  EXPECT_EQ(0644u, info.st_mode & 0777);
}

TEST_F(TextFilesTest, ComposedBackslashPathsReachTheFileSystemWithSlashes) {
  ASSERT_TRUE(files_.CreateDirectory(dir_ + "example.com").created);
  files_.AppendLine(dir_ + "example.com\\user.dat.wlt", "a@b.c");
  EXPECT_EQ("a@b.c\r\n", platform_.ReadFile(dir_ + "example.com/user.dat.wlt"));
  EXPECT_THAT(ReadLines(dir_ + "example.com\\user.dat.wlt"), ElementsAre("a@b.c"));
}

TEST_F(TextFilesTest, ReaderAcceptsCrLfLfAndALastLineWithoutEnding) {
  const std::string path = dir_ + "mixed.txt";
  platform_.WriteFile(path, "one\r\ntwo\nthree\r\n\r\nlast\rcr");
  EXPECT_THAT(ReadLines(path), ElementsAre("one", "two", "three", "", "last\rcr"));
  platform_.WriteFile(path, "");
  EXPECT_THAT(ReadLines(path), ElementsAre());
}

TEST_F(TextFilesTest, FailuresCarryTheFixedNumbers) {
  EXPECT_EQ(kPathNotFound, ErrorNumberOf([&] { files_.AppendLine(dir_ + "missing\\Varnolt.log", "x"); }));
  EXPECT_FALSE(platform_.Exists(dir_ + "missing"));
  EXPECT_EQ(kFileNotFound, ErrorNumberOf([&] { files_.OpenForReading(dir_ + "absent.txt"); }));
  EXPECT_EQ(kPathNotFound, ErrorNumberOf([&] { files_.OpenForReading(dir_ + "missing\\absent.txt"); }));
  // Without an exception: the same error, or the same lines.
  for (const std::string name : {"absent.txt", "missing\\absent.txt"}) {
    SCOPED_TRACE(name);
    std::optional<ComError> error;
    EXPECT_EQ(nullptr, files_.TryOpenForReading(dir_ + name, &error));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(ErrorNumberOf([&] { files_.OpenForReading(dir_ + name); }), error->number());
  }
  platform_.WriteFile(dir_ + "present.txt", "one\r\ntwo");
  std::optional<ComError> none;
  const std::unique_ptr<TextReader> reader = files_.TryOpenForReading(dir_ + "present.txt", &none);
  ASSERT_NE(nullptr, reader);
  EXPECT_FALSE(none.has_value());
  std::string line;
  ASSERT_TRUE(reader->ReadLine(&line));
  EXPECT_EQ("one", line);
  EXPECT_EQ(kPathFileAccessError, ErrorNumberOf([&] { files_.AppendLine(dir_, "a folder is no file"); }));

  const struct {
    int err;
    FileAccess access;
    int32_t number;
  } cases[] = {
      {EACCES, FileAccess::kWrite, kPermissionDenied}, {EPERM, FileAccess::kRead, kPermissionDenied},
      {ENOTDIR, FileAccess::kRead, kPathNotFound},     {ENOSPC, FileAccess::kWrite, kPathFileAccessError},
      {ENOENT, FileAccess::kWrite, kPathNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(c.number, FileError(c.err, c.access, dir_ + "x").number());
  }
}

TEST_F(TextFilesTest, DirectoriesAttributesAndDeletion) {
  const CreateDirectoryResult made = files_.CreateDirectory(dir_ + "domain");
  EXPECT_TRUE(made.created);
  EXPECT_EQ(0, made.error_code);
  const CreateDirectoryResult again = files_.CreateDirectory(dir_ + "domain");
  EXPECT_FALSE(again.created);
  EXPECT_TRUE(again.already_exists);
  EXPECT_EQ(EEXIST, again.error_code);
  const CreateDirectoryResult orphan = files_.CreateDirectory(dir_ + "no\\such");
  EXPECT_FALSE(orphan.already_exists);
  EXPECT_EQ(ENOENT, orphan.error_code);

  platform_.WriteFile(dir_ + "domain/u.dat", "x");
  EXPECT_EQ(kFileAttributeDirectory, files_.GetFileAttributes(dir_ + "domain"));
  EXPECT_EQ(kFileAttributeNormal, files_.GetFileAttributes(dir_ + "domain\\u.dat"));
  EXPECT_EQ(kInvalidFileAttributes, files_.GetFileAttributes(dir_ + "domain\\v.dat"));
  EXPECT_EQ(0, files_.DeleteFile(dir_ + "domain\\u.dat"));
  EXPECT_EQ(ENOENT, files_.DeleteFile(dir_ + "domain\\u.dat"));
}

TEST_F(TextFilesTest, OneClaimOfAFileAtATimeAndTheFileOutlivesIt) {
  const std::string path = dir_ + "u.dat.welcome";
  FileClaimResult first = files_.ClaimFile(path);
  ASSERT_TRUE(first.claim);
  EXPECT_TRUE(first.created);
  EXPECT_EQ(std::string(), platform_.ReadFile(path));
  struct stat st {};
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 0007);  // for its owner and group only
  // Another claim in this process is another holder too (an event on another thread).
  const FileClaimResult second = files_.ClaimFile(path);
  EXPECT_FALSE(second.claim);
  EXPECT_TRUE(second.held_elsewhere);
  first.claim.reset();
  FileClaimResult again = files_.ClaimFile(path);
  ASSERT_TRUE(again.claim);
  EXPECT_FALSE(again.created);
  // A holder that deleted the file before letting go leaves nothing to hold: the next claim makes a new one.
  EXPECT_EQ(0, files_.DeleteFile(path));
  again.claim.reset();
  const FileClaimResult fresh = files_.ClaimFile(path);
  ASSERT_TRUE(fresh.claim);
  EXPECT_TRUE(fresh.created);
  const FileClaimResult orphan = files_.ClaimFile(dir_ + "no\\such\\u.dat.welcome");
  EXPECT_FALSE(orphan.claim);
  EXPECT_FALSE(orphan.held_elsewhere);
  EXPECT_EQ(ENOENT, orphan.error_code);
}

// A killed holder's claim is free at once: the system drops the lock with the process.
TEST_F(TextFilesTest, AClaimEndsWithItsHoldersProcess) {
  const std::string path = dir_ + "u.dat.welcome";
  int claimed[2];
  ASSERT_EQ(0, ::pipe(claimed));
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    FileClaimResult held = PosixTextFiles().ClaimFile(path);
    const char byte = held.claim ? 'y' : 'n';
    if (::write(claimed[1], &byte, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  char answer = 0;
  ASSERT_EQ(1, ::read(claimed[0], &answer, 1));
  ASSERT_EQ('y', answer);
  EXPECT_TRUE(files_.ClaimFile(path).held_elsewhere);
  ASSERT_EQ(0, ::kill(holder, SIGKILL));
  int status = 0;
  ASSERT_EQ(holder, ::waitpid(holder, &status, 0));
  const FileClaimResult taken = files_.ClaimFile(path);
  ASSERT_TRUE(taken.claim);
  EXPECT_FALSE(taken.created);
  for (int fd : claimed) ::close(fd);
}

// Every line must arrive whole: no interleaving, no loss, under threads and processes at once.
TEST_F(TextFilesTest, ConcurrentAppendsStayWholeLines) {
  const std::string path = dir_ + "Varnolt.log";
  constexpr int kWriters = 4;
  constexpr int kLines = 300;
  // Lines short and long, many across a page boundary of the file.
  auto padding = [](int i) { return std::string(100 + i * 37 % 6000, 'x'); };
  auto write_lines = [&](const std::string& who) {
    for (int i = 0; i < kLines; ++i) files_.AppendLine(path, who + " " + std::to_string(i) + " " + padding(i));
  };

  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      write_lines("process" + std::to_string(p));
      ::_exit(0);
    }
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t) threads.emplace_back(write_lines, "thread" + std::to_string(t));
  for (auto& t : threads) t.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::map<std::string, int> next_of;
  int total = 0;
  for (const std::string& line : ReadLines(path)) {
    const size_t blank = line.find(' ');
    ASSERT_NE(std::string::npos, blank) << line;
    const std::string who = line.substr(0, blank);
    ASSERT_EQ(who + " " + std::to_string(next_of[who]) + " " + padding(next_of[who]), line);
    ++next_of[who];
    ++total;
  }
  EXPECT_EQ((kWriters + 2) * kLines, total);
}

// Servers sharing the log over NFS take turns through a byte-range lock that
// the lock manager sees: an append waits while another holder keeps the file.
TEST_F(TextFilesTest, AnAppendWaitsWhileAnotherProcessHoldsTheFilesLock) {
  const std::string path = dir_ + "Varnolt.log";
  platform_.WriteFile(path, "");
  int locked[2], release[2];
  ASSERT_EQ(0, ::pipe(locked));
  ASSERT_EQ(0, ::pipe(release));
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = ::open(path.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    char byte = ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
    if (::write(locked[1], &byte, 1) != 1 || ::read(release[0], &byte, 1) != 1) ::_exit(1);
    ::_exit(0);  // the lock goes with the process
  }
  char answer = 0;
  ASSERT_EQ(1, ::read(locked[0], &answer, 1));
  ASSERT_EQ('y', answer);

  std::thread appender([&] { files_.AppendLine(path, "after the other server"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ("", platform_.ReadFile(path));
  ASSERT_EQ(1, ::write(release[1], "x", 1));
  appender.join();
  int status = 0;
  ASSERT_EQ(holder, ::waitpid(holder, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ("after the other server\r\n", platform_.ReadFile(path));
  for (int fd : {locked[0], locked[1], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace varnolt
