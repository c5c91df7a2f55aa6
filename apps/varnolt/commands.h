// The commands of the varnolt program; each adds its subcommands, their
// options and their actions to the application.
#pragma once

#include <CLI/CLI.hpp>

#include "varnolt/session.h"

namespace varnolt::cli {

void AddInitCommand(CLI::App& app, Session& session);
void AddConfigCommand(CLI::App& app, Session& session);
void AddMailboxCommands(CLI::App& app, Session& session);   // mailbox, folder
void AddDeliverCommand(CLI::App& app, Session& session);
void AddEventCommands(CLI::App& app, Session& session);     // move, event, system
void AddListCommand(CLI::App& app, Session& session);       // ls
void AddShowCommands(CLI::App& app, Session& session);      // show, cat
void AddLogCommand(CLI::App& app, Session& session);        // log
void AddBackupCommand(CLI::App& app, Session& session);     // backup
// whitelist, model, mailbox remove (after AddMailboxCommands)
void AddUserDataCommands(CLI::App& app, Session& session);
void AddEngineCommands(CLI::App& app, Session& session);    // train, check, stats
void AddExplainCommand(CLI::App& app, Session& session);    // explain
void AddServeCommand(CLI::App& app, Session& session);      // serve
void AddDbCommands(CLI::App& app, Session& session);        // db migrate
void AddJournalCommands(CLI::App& app, Session& session);   // journal migrate
void AddModelTransferCommands(CLI::App& app, Session& session);  // model import, model export

// Creates or upgrades the models' schema in [engine] postgresql; returns its version.
// Throws CommandError when the models are files.
int MigrateModelDatabase(const hosting::HomeConfig& config);

}  // namespace varnolt::cli
