#include "varnolt/help_examples.h"

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "varnolt/check_exit_status.h"

namespace varnolt::cli {
namespace {

struct Examples {
  std::string command;  // "config set": the words that name it below `varnolt`
  std::string note;     // a sentence before the examples, or ""
  std::vector<std::string> lines;
};

std::vector<Examples> ExampleTable() {
  return {
      {"init", "", {"varnolt --home /var/lib/varnolt init", "varnolt init --data-folder /srv/varnolt-data",
                    "varnolt --home /var/lib/varnolt init --repair"}},
      {"config", "Settings are explained by 'varnolt config list' and 'varnolt config describe NAME'.",
       {"varnolt config list", "varnolt config describe ProviderMode", "varnolt config set HideSpam 1"}},
      {"config list", "", {"varnolt config list", "varnolt config list --json"}},
      {"config describe", "", {"varnolt config describe DebugLevel"}},
      {"config get", "", {"varnolt config get UseJunkMailFolder"}},
      {"config set", "", {"varnolt config set DebugLevel 2", "varnolt config set UseJunkMailFolder 'Junk E-Mail;Spam'"}},
      {"config unset", "", {"varnolt config unset AutoWhiteList"}},
      {"config constructor-string", "",
       {"varnolt config constructor-string", "varnolt config constructor-string /var/lib/varnolt/data"}},
      {"mailbox", "", {"varnolt mailbox add alice@example.com", "varnolt mailbox list --json"}},
      {"mailbox add", "", {"varnolt mailbox add alice@example.com"}},
      {"mailbox list", "", {"varnolt mailbox list", "varnolt mailbox list --json"}},
      {"mailbox remove", "", {"varnolt mailbox remove bob@example.com", "varnolt mailbox remove bob@example.com --delete-mail"}},
      {"folder", "", {"varnolt folder add alice@example.com Inbox/Projects"}},
      {"folder add", "", {"varnolt folder add alice@example.com Inbox/Projects"}},
      {"deliver", "The URL lines are the output scripts read; on a terminal each line also shows the verdict.",
       {"varnolt deliver alice@example.com message.eml", "varnolt deliver alice@example.com --json *.eml",
        "cat message.eml | varnolt deliver alice@example.com -"}},
      {"move", "", {"varnolt move 42 'Junk E-Mail'", "varnolt move id:<1234@example.net> Inbox"}},
      {"event", "", {"varnolt event 0x01000008 42"}},
      {"system", "", {"varnolt system startup"}},
      {"ls", "", {"varnolt ls alice@example.com", "varnolt ls alice@example.com 'Junk E-Mail' --all",
                  "varnolt ls alice@example.com --folders"}},
      {"show", "", {"varnolt show 42", "varnolt show id:<1234@example.net> --json"}},
      {"cat", "", {"varnolt cat 42 > message.eml"}},
      {"log", "", {"varnolt log -n 20", "varnolt log -f | grep 'Err:'"}},
      {"train", "At least one of --spam and --ham is required; both may be given.",
       {"varnolt train alice@example.com --spam ~/corpus/spam --ham ~/Maildir",
        "varnolt train -q alice@example.com --ham saved/*.eml",
        "varnolt train --domain example.com --spam ~/corpus/spam --ham ~/corpus/ham"}},
      {"check", CheckThresholdHelp(),
       {"varnolt check alice@example.com message.eml",
        "varnolt check --exit-status alice@example.com - < message.eml; echo $?"}},
      {"stats", "", {"varnolt stats alice@example.com", "varnolt stats alice@example.com --json",
                     "varnolt stats --domain example.com"}},
      {"backup", "", {"varnolt backup /var/backups/varnolt-$(date +%F)",
                      "varnolt --home /var/backups/varnolt-2026-12-07 ls alice@example.com"}},
      {"whitelist", "", {"varnolt whitelist add alice@example.com bob@example.net", "varnolt whitelist list alice@example.com"}},
      {"whitelist list", "", {"varnolt whitelist list alice@example.com"}},
      {"whitelist add", "", {"varnolt whitelist add alice@example.com bob@example.net"}},
      {"whitelist remove", "", {"varnolt whitelist remove alice@example.com bob@example.net"}},
      {"model", "", {"varnolt model reset alice@example.com"}},
      {"model reset", "", {"varnolt model reset alice@example.com && varnolt train alice@example.com --spam spam/",
                           "varnolt model reset --domain example.com"}},
      {"model refit", "", {"varnolt model refit --domain example.com", "varnolt model refit alice@example.com"}},
      {"model import", "", {"varnolt db migrate && varnolt model import"}},
      {"model export", "", {"varnolt model export"}},
      {"db", "", {"varnolt db migrate"}},
      {"db migrate", "", {"varnolt db migrate"}},
  };
}

// The command the words name, or nullptr. Looked up without the parser's
// exception for a missing one: a run that set up one command passes over
// the examples of all the others.
CLI::App* FindCommand(CLI::App& app, const std::string& path) {
  CLI::App* command = &app;
  std::istringstream words(path);
  for (std::string word; command && words >> word;) {
    const auto found = command->get_subcommands([&word](const CLI::App* sub) { return sub->get_name() == word; });
    command = found.empty() ? nullptr : found.front();
  }
  return command;
}

}  // namespace

void AddHelpExamples(CLI::App& app, bool every_command) {
  for (const Examples& examples : ExampleTable()) {
    CLI::App* command = FindCommand(app, examples.command);
    if (!command) {
      if (!every_command) continue;  // not set up in this run
      throw std::logic_error("help examples for a command that does not exist: " + examples.command);
    }
    // After what the command itself says there (an exit status table).
    std::string footer = command->get_footer().empty() ? "" : command->get_footer() + "\n\n";
    footer += examples.note.empty() ? "" : examples.note + "\n\n";
    footer += examples.lines.size() == 1 ? "Example:" : "Examples:";
    for (const std::string& line : examples.lines) footer += "\n  " + line;
    command->footer(footer);
  }
}

}  // namespace varnolt::cli
