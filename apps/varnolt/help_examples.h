// The examples at the end of every command's --help, kept in one table so
// that they read as one voice and a command without them stands out.
#pragma once

#include <CLI/CLI.hpp>

namespace varnolt::cli {

// Adds examples to the footer of each command and subcommand the table names; call
// after the commands were added. With every_command, throws std::logic_error
// for a table entry that names no command (a renamed command must take its
// examples along); else the entries of commands not added are passed over.
void AddHelpExamples(CLI::App& app, bool every_command);

}  // namespace varnolt::cli
