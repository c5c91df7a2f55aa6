// The command-line parser's complaints in plain sentences: an administrator
// should read what to change, not how the parser counts.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace varnolt::cli {

// The message for a parse error of command (the subcommand that was being
// parsed; the application itself when none).
std::string PlainParseMessage(const CLI::ParseError& error, const CLI::App& command);

// "varnolt config set": the words that run the command.
std::string CommandPath(const CLI::App& command);

// The innermost subcommand the parser entered.
const CLI::App& InnermostCommand(const CLI::App& app);

}  // namespace varnolt::cli
