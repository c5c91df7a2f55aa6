// The commands by the words that name them, so that a run sets up only the
// command it was asked for: scripts and mail systems start the program once
// per message (`check`, `deliver`), and setting up every command's options,
// help and examples costs about as much as reading the message.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "varnolt/session.h"

namespace varnolt::cli {

// Adds to app the commands a run of the command named word needs (its first
// word: "check", "mailbox"), or every command when word names none (no
// command, an unknown one, help). Returns true when every command was added.
bool AddCommands(CLI::App& app, Session& session, const std::string& word);

}  // namespace varnolt::cli
