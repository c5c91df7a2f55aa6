// `train`, `check` and `stats`: the spam engine of one user, driven directly
// with the database path the filter uses for that user.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "platform/system/posix_text_files.h"
#include "varnolt/cli_errors.h"
#include "varnolt/check_exit_status.h"
#include "varnolt/commands.h"
#include "varnolt/file_io.h"
#include "varnolt/json_output.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/message_input.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

struct TrainOptions {
  std::string mailbox;
  bool spam = false;
  bool ham = false;
  std::vector<std::string> paths;
  bool quiet = false;
};

struct CheckOptions {
  std::string mailbox;
  std::vector<std::string> files;
  bool json = false;
  bool exit_status = false;
};

// The filter's data folder; a user's files are only meaningful below one.
std::string RequireDataFolder(Session& session) {
  const std::string folder = session.DataFolder();
  if (folder.empty()) throw CommandError("the constructor string is empty, so there is no data folder");
  return folder;
}

// The files to learn from: each FILE, and every file below each DIR in name
// order. Throws before anything is learned when a path is missing.
std::vector<std::string> CollectFiles(const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) throw CommandError("cannot read " + path + ": no such file or directory");
    if (!fs::is_directory(status)) {
      files.push_back(path);
      continue;
    }
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(path)) {
      if (entry.is_regular_file()) found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

// The domain's directory below the data folder; the filter makes the same one
// on its first event for the domain.
void EnsureDomainDirectory(const std::string& data_folder, const std::string& domain) {
  const std::string folder = ToFileSystemPath(data_folder);
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw CommandError("the data folder " + folder + " does not exist");
  const CreateDirectoryResult made = PosixTextFiles().CreateDirectory(data_folder + domain);
  if (!made.created && !made.already_exists) {
    throw CommandError("cannot create " + ToFileSystemPath(data_folder + domain) + ": " +
                       std::strerror(made.error_code));
  }
}

void RunTrain(Session& session, const TrainOptions& options) {
  const MailboxAddress mailbox = ParseMailboxAddress(options.mailbox);
  if (options.spam == options.ham) throw UsageError("give exactly one of --spam and --ham");
  const std::vector<std::string> files = CollectFiles(options.paths);
  const std::string data_folder = RequireDataFolder(session);
  EnsureDomainDirectory(data_folder, mailbox.domain);
  const std::string dat_path = UserDatPath(data_folder, mailbox.domain, mailbox.user);

  BuiltinSpamEngine& engine = session.Engine();
  const bool progress = !options.quiet && isatty(STDERR_FILENO) == 1;
  size_t learned = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string bytes = ReadFileBytes(files[i]);
    if (bytes.empty()) {
      std::cerr << (progress ? "\n" : "") << "varnolt: skipped " << files[i] << ": empty message\n";
    } else {
      const EngineInput input = EngineInputOf(bytes);
      engine.Learn(dat_path, input.header, input.body, options.spam);
      ++learned;
    }
    if (progress) std::cerr << "\rlearning " << i + 1 << "/" << files.size() << std::flush;
  }
  if (progress && !files.empty()) std::cerr << '\n';
  const SpamCounts counts = engine.GetCounts(dat_path);
  std::cout << "learned " << learned << " messages as " << (options.spam ? "SPAM" : "HAM") << " for "
            << mailbox.Text() << " (now " << counts.ham << " HAM, " << counts.spam << " SPAM)\n";
}

std::string ScoreText(double score) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", score);
  return text;
}

void RunCheck(Session& session, const CheckOptions& options) {
  const MailboxAddress mailbox = ParseMailboxAddress(options.mailbox);
  if (std::count(options.files.begin(), options.files.end(), "-") > 1) {
    throw UsageError("'-' (standard input) can be given only once");
  }
  const std::string dat_path = UserDatPath(RequireDataFolder(session), mailbox.domain, mailbox.user);
  BuiltinSpamEngine& engine = session.Engine();
  Json results = Json::array();
  bool any_spam = false;
  for (const std::string& file : options.files) {
    const EngineInput input = EngineInputOf(file == "-" ? ReadStandardInput() : ReadFileBytes(file));
    const SpamScore score = engine.Peek(dat_path, input.header, input.body);
    const char* verdict = score.is_spam ? "SPAM" : "HAM";
    any_spam = any_spam || score.is_spam;
    if (options.json) {
      results.push_back(
          {{"file", file}, {"verdict", verdict}, {"score", score.spamminess}, {"threshold", kSpamThreshold}});
    } else {
      std::cout << verdict << ' ' << ScoreText(score.spamminess) << ' ' << file << '\n';
    }
  }
  if (options.json) std::cout << JsonText(results);
  if (options.exit_status && any_spam) session.SetExitStatus(kExitSpamFound);
}

// Every line of the whitelist counts as an entry, as the filter reads it.
int64_t WhitelistSize(const std::string& path) {
  std::error_code error;
  if (!fs::exists(ToFileSystemPath(path), error)) return 0;
  auto reader = PosixTextFiles().OpenForReading(path);
  int64_t lines = 0;
  std::string line;
  while (reader->ReadLine(&line)) ++lines;
  return lines;
}

void RunStats(Session& session, const std::string& text, bool json) {
  const MailboxAddress mailbox = ParseMailboxAddress(text);
  const std::string dat_path = UserDatPath(RequireDataFolder(session), mailbox.domain, mailbox.user);
  const SpamCounts counts = session.Engine().GetCounts(dat_path);
  const int64_t whitelist = WhitelistSize(dat_path + ".wlt");
  if (json) {
    std::cout << JsonText({{"ham", counts.ham}, {"spam", counts.spam}, {"whitelist", whitelist}});
    return;
  }
  std::cout << "ham " << counts.ham << "\nspam " << counts.spam << "\nwhitelist " << whitelist << '\n';
}

}  // namespace

void AddEngineCommands(CLI::App& app, Session& session) {
  auto train_options = std::make_shared<TrainOptions>();
  CLI::App* train = app.add_subcommand(
      "train", "Teach the user's spam database from existing mail (files, or every file below a directory)");
  train->add_option("USER@DOMAIN", train_options->mailbox, "The user")->required();
  train->add_option("FILE_OR_DIR", train_options->paths, "Messages to learn from")->required();
  CLI::Option* spam = train->add_flag("--spam", train_options->spam, "Learn them as SPAM");
  CLI::Option* ham = train->add_flag("--ham", train_options->ham, "Learn them as HAM");
  spam->excludes(ham);
  train->add_flag("--quiet,-q", train_options->quiet, "No progress counter on the terminal");
  train->callback([&session, train_options] { RunTrain(session, *train_options); });

  auto check_options = std::make_shared<CheckOptions>();
  CLI::App* check = app.add_subcommand(
      "check", "Ask the user's spam engine about messages without storing or learning anything: "
               "one line each, SPAM|HAM <score 0..1> <file>");
  check->add_option("USER@DOMAIN", check_options->mailbox, "The user")->required();
  check->add_option("FILE", check_options->files, "Message files, or '-' for stdin")->required();
  check->add_flag("--json", check_options->json, "A JSON array of {file, verdict, score, threshold}");
  check->add_flag("--exit-status", check_options->exit_status, CheckExitStatusHelp());
  check->callback([&session, check_options] { RunCheck(session, *check_options); });

  auto stats_mailbox = std::make_shared<std::string>();
  auto stats_json = std::make_shared<bool>(false);
  CLI::App* stats = app.add_subcommand("stats", "The user's HAM and SPAM counts and whitelist size");
  stats->add_option("USER@DOMAIN", *stats_mailbox, "The user")->required();
  stats->add_flag("--json", *stats_json, "{ham, spam, whitelist}");
  stats->callback([&session, stats_mailbox, stats_json] { RunStats(session, *stats_mailbox, *stats_json); });
}

}  // namespace varnolt::cli
