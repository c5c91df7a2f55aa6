// `train`, `check` and `stats`: the spam engine of one user, driven directly
// with the database path the filter uses for that user.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "backends/mailstore/store_errors.h"
#include "backends/system/posix_text_files.h"
#include "hosting/filter_library.h"
#include "platform/names/data_layout.h"
#include "triage/domain_directory.h"
#include "trust/whitelist.h"
#include "varnolt/check_exit_status.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/domain_model_target.h"
#include "varnolt/file_io.h"
#include "varnolt/json_output.h"
#include "varnolt/known_mailbox.h"
#include "varnolt/mail_sources.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/message_input.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

struct TrainOptions {
  std::string mailbox;
  std::string domain;  // the domain's shared model instead of a user's
  std::vector<std::string> spam;
  std::vector<std::string> ham;
  bool recursive = false;
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
  if (folder.empty()) throw hosting::CommandError("the constructor string is empty, so there is no data folder");
  return folder;
}

// The domain's directory below the data folder; the filter makes the same one
// on its first event for the domain.
void EnsureDomainDirectory(const std::string& data_folder, const std::string& domain) {
  const std::string folder = ToFileSystemPath(data_folder);
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw hosting::CommandError("the data folder " + folder + " does not exist");
  const std::string domain_dir = DomainDirectory(data_folder, domain);
  PosixTextFiles files;
  const CreateDirectoryResult made = CreateDomainDirectory(files, data_folder, domain);
  if (!made.created && !made.already_exists) {
    throw hosting::CommandError("cannot create " + ToFileSystemPath(domain_dir) + ": " +
                                std::strerror(made.error_code));
  }
}

void RunTrain(Session& session, const TrainOptions& options) {
  if (options.spam.empty() && options.ham.empty()) throw UsageError("give --spam or --ham (or both) with mail to learn");
  const size_t standard_inputs = std::count(options.spam.begin(), options.spam.end(), kStandardInputName) +
                                 std::count(options.ham.begin(), options.ham.end(), kStandardInputName);
  if (standard_inputs > 1) throw UsageError("'-' (standard input) can be given only once");
  if (options.mailbox.empty() == options.domain.empty()) {
    throw UsageError("give either USER@DOMAIN or --domain DOMAIN (the domain's shared model)");
  }
  // The model taught: the user's own, or the one every mailbox of the domain consults.
  std::string domain, dat_path, taught;
  if (options.domain.empty()) {
    const MailboxAddress mailbox = KnownMailbox(session, options.mailbox);
    domain = mailbox.domain;
    dat_path = UserDatabasePath(RequireDataFolder(session), mailbox.domain, mailbox.user);
    taught = mailbox.Text();
  } else {
    const DomainModelTarget target = DomainModelOf(session, options.domain);
    domain = target.domain;
    dat_path = target.model_path;
    taught = "the domain " + target.domain;
  }
  const std::string data_folder = RequireDataFolder(session);

  const bool progress = !options.quiet && isatty(STDERR_FILENO) == 1;
  size_t skipped = 0;
  auto skip = [&](const std::string& name, const std::string& reason) {
    std::cerr << (progress ? "\r" : "") << "varnolt: skipped " << name << ": " << reason << '\n';
    ++skipped;
  };
  // Both checked before anything is learned.
  MailSource spam(options.spam, options.recursive, skip);
  MailSource ham(options.ham, options.recursive, skip);
  EnsureDomainDirectory(data_folder, domain);

  BuiltinSpamEngine& engine = session.Engine();
  size_t learned[2] = {0, 0};
  size_t known = 0;
  // The classes taken in turns: the model does not depend on the order, but a
  // run cut short then leaves a model of both.
  MailMessage message;
  for (bool more_spam = true, more_ham = true; more_spam || more_ham;) {
    for (const bool is_spam : {true, false}) {
      bool& more = is_spam ? more_spam : more_ham;
      if (!more || !(more = (is_spam ? spam : ham).Next(&message))) continue;
      const EngineInput input = EngineInputOf(message.bytes);
      BuiltinSpamEngine::LearnResult result;
      try {
        result = engine.LearnMessage(dat_path, input.header, input.body, is_spam);
      } catch (const ComError& error) {
        // What was learned before stays learned: say how much, so that a rerun is understood.
        if (progress) std::cerr << "\r\033[K";
        throw hosting::CommandError(hosting::ComErrorText(error) + "\n(" + message.name + " was not learned; " +
                                    std::to_string(learned[0] + learned[1]) +
                                    " messages were learned before the failure: " + std::to_string(learned[0]) +
                                    " HAM, " + std::to_string(learned[1]) + " SPAM)");
      }
      if (result == BuiltinSpamEngine::LearnResult::kAlreadyKnown) {
        ++known;
      } else {
        ++learned[is_spam];
      }
      if (progress) std::cerr << "\rlearned " << learned[0] + learned[1] << ", already known " << known << std::flush;
    }
  }
  if (progress) std::cerr << "\r\033[K";
  // The linear weights of the whole batch, not of the set at its last refit on the way.
  // The lessons are committed before it: a failed refit is reported after what was learned.
  std::optional<ComError> refit_failure;
  if (learned[0] + learned[1] > 0) {
    try {
      engine.Refit(dat_path);
    } catch (const ComError& error) {
      refit_failure = error;
    }
  }
  const SpamCounts counts = engine.GetCounts(dat_path);
  std::cout << "learned " << learned[0] + learned[1] << " (" << learned[0] << " HAM, " << learned[1] << " SPAM), "
            << known << " already known, " << skipped << " skipped for " << taught << " (now "
            << counts.ham << " HAM, " << counts.spam << " SPAM)\n";
  if (refit_failure) {
    std::cout.flush();
    throw hosting::CommandError("the lessons above are learned, but refitting the linear model failed: " +
                                hosting::ComErrorText(*refit_failure) +
                                " (it is redone at the next lesson or 'train')");
  }
}

std::string ScoreText(double score) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", score);
  return text;
}

void RunCheck(Session& session, const CheckOptions& options) {
  if (std::count(options.files.begin(), options.files.end(), kStandardInputName) > 1) {
    throw UsageError("'-' (standard input) can be given only once");
  }
  const MailboxAddress mailbox = KnownMailbox(session, options.mailbox);
  const std::string dat_path = UserDatabasePath(RequireDataFolder(session), mailbox.domain, mailbox.user);
  BuiltinSpamEngine& engine = session.Engine();
  Json results = Json::array();
  bool any_spam = false;
  size_t refused = 0;
  for (const std::string& file : options.files) {
    const std::string bytes = file == kStandardInputName ? ReadStandardInput() : ReadFileBytes(file);
    // As train refuses to learn it: a verdict on something that is no mail means nothing.
    if (!LooksLikeMail(bytes)) {
      std::cerr << "varnolt: skipped " << (file == kStandardInputName ? "standard input" : file) << ": "
                << (bytes.empty() ? "empty file" : "not a mail message (no header block)") << '\n';
      ++refused;
      continue;
    }
    const EngineInput input = EngineInputOf(bytes);
    const SpamScore score = engine.Peek(dat_path, input.header, input.body);
    const char* verdict = score.is_spam ? "SPAM" : "HAM";
    any_spam = any_spam || score.is_spam;
    if (options.json) {
      results.push_back(
          {{"file", file}, {"verdict", verdict}, {"score", score.spamminess}, {"threshold", engine.Threshold()}});
    } else {
      std::cout << verdict << ' ' << ScoreText(score.spamminess) << ' ' << file << '\n';
    }
  }
  if (options.json) std::cout << JsonText(results);
  if (refused > 0) {
    std::cout.flush();
    throw hosting::CommandError(std::to_string(refused) + " of " + std::to_string(options.files.size()) +
                                " input(s) got no verdict: not mail");
  }
  if (options.exit_status && any_spam) session.SetExitStatus(kExitSpamFound);
}

// The domain's shared model: its counts, and the users' lessons that wait
// for others to agree (a domain has no whitelist).
void RunDomainStats(Session& session, const std::string& domain, bool json) {
  const std::string path = DomainModelOf(session, domain).model_path;
  const SpamCounts counts = session.Engine().GetCounts(path);
  const int64_t waiting = session.Engine().WaitingLessons(path);
  if (json) {
    std::cout << JsonText({{"ham", counts.ham}, {"spam", counts.spam}, {"waiting", waiting}});
    return;
  }
  std::cout << "ham " << counts.ham << "\nspam " << counts.spam << "\nwaiting " << waiting << '\n';
}

void RunStats(Session& session, const std::string& text, const std::string& domain, bool json) {
  if (text.empty() == domain.empty()) throw UsageError("give either USER@DOMAIN or --domain DOMAIN");
  if (!domain.empty()) return RunDomainStats(session, domain, json);
  const MailboxAddress mailbox = KnownMailbox(session, text);
  const std::string dat_path = UserDatabasePath(RequireDataFolder(session), mailbox.domain, mailbox.user);
  const SpamCounts counts = session.Engine().GetCounts(dat_path);
  PosixTextFiles files;
  const auto whitelist = static_cast<int64_t>(ReadWhiteList(files, dat_path).size());
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
      "train", "Teach the user's spam database from existing mail: message files, folders, Maildir folders, "
               "mbox files, or '-' for stdin; both classes in one call are learned in turns");
  train->add_option("USER@DOMAIN", train_options->mailbox, "The user (an existing mailbox)");
  train->add_option("--domain", train_options->domain,
                    "Teach the domain's shared model instead, which every mailbox of DOMAIN consults beside its own")
      ->option_text("DOMAIN");
  train->add_option("--spam", train_options->spam, "Mail to learn as SPAM")->expected(1, -1);
  train->add_option("--ham", train_options->ham, "Mail to learn as HAM")->expected(1, -1);
  train->add_flag("--recursive,-r", train_options->recursive,
                  "Also the subfolders of the folders given (a Maildir's .Junk and the like)");
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
  auto stats_domain = std::make_shared<std::string>();
  auto stats_json = std::make_shared<bool>(false);
  CLI::App* stats = app.add_subcommand("stats", "The user's HAM and SPAM counts and whitelist size");
  stats->add_option("USER@DOMAIN", *stats_mailbox, "The user");
  stats->add_option("--domain", *stats_domain, "The counts of the domain's shared model instead")
      ->option_text("DOMAIN");
  stats->add_flag("--json", *stats_json, "{ham, spam, whitelist} ({ham, spam, waiting} for a domain)");
  stats->callback([&session, stats_mailbox, stats_domain, stats_json] {
    RunStats(session, *stats_mailbox, *stats_domain, *stats_json);
  });
}

}  // namespace varnolt::cli
