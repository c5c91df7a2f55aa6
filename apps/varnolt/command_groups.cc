#include "varnolt/command_groups.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "varnolt/commands.h"

namespace varnolt::cli {
namespace {

struct CommandGroup {
  // The commands whose runs need the group: those it adds, and those that
  // add subcommands to them.
  std::array<std::string_view, 4> words;
  void (*add)(CLI::App& app, Session& session);
};

// In the order they are added: the user-data commands add "mailbox remove".
constexpr CommandGroup kGroups[] = {
    {{"init"}, AddInitCommand},
    {{"config"}, AddConfigCommand},
    {{"mailbox", "folder", "whitelist", "model"}, AddMailboxCommands},
    {{"deliver"}, AddDeliverCommand},
    {{"move", "event", "system"}, AddEventCommands},
    {{"ls"}, AddListCommand},
    {{"show", "cat"}, AddShowCommands},
    {{"log"}, AddLogCommand},
    {{"backup"}, AddBackupCommand},
    {{"whitelist", "model", "mailbox"}, AddUserDataCommands},
    {{"model"}, AddModelTransferCommands},
    {{"train", "check", "stats"}, AddEngineCommands},
    {{"explain"}, AddExplainCommand},
    {{"serve"}, AddServeCommand},
    {{"db"}, AddDbCommands},
    {{"journal"}, AddJournalCommands},
};

bool Needs(const CommandGroup& group, const std::string& word) {
  return !word.empty() && std::find(group.words.begin(), group.words.end(), word) != group.words.end();
}

}  // namespace

bool AddCommands(CLI::App& app, Session& session, const std::string& word) {
  const bool all = std::none_of(std::begin(kGroups), std::end(kGroups),
                                [&word](const CommandGroup& group) { return Needs(group, word); });
  for (const CommandGroup& group : kGroups) {
    if (all || Needs(group, word)) group.add(app, session);
  }
  return all;
}

}  // namespace varnolt::cli
