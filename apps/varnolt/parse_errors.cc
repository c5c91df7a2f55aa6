#include "varnolt/parse_errors.h"

#include <regex>

namespace varnolt::cli {
namespace {

std::string SubcommandNames(const CLI::App& command) {
  std::string names;
  for (const CLI::App* sub : command.get_subcommands([](const CLI::App*) { return true; })) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  return names;
}

// The message with the parser's idiom replaced; the text as it was when no
// pattern fits.
std::string Reword(const std::string& text, const CLI::App& command) {
  std::smatch match;
  if (std::regex_match(text, match, std::regex(R"((\S+): At Most \d+ required but received \d+)"))) {
    return match[1].str() + " can be given only once";
  }
  if (std::regex_match(text, match, std::regex(R"((\S+): \d+ required \S+ missing)"))) {
    return match[1].str() + " needs a value";
  }
  if (std::regex_match(text, match, std::regex(R"(The following arguments? (?:was|were) not expected: (.*))"))) {
    return "unexpected argument(s): " + match[1].str();
  }
  if (std::regex_match(text, match, std::regex(R"((\S+) excludes (\S+))"))) {
    return match[1].str() + " and " + match[2].str() + " cannot be given together";
  }
  if (text == "A subcommand is required") {
    return "say what to do: " + SubcommandNames(command);
  }
  if (std::regex_match(text, match, std::regex(R"((\S+) is required)"))) {
    return "missing " + match[1].str();
  }
  if (std::regex_match(text, match, std::regex(R"((\S+): (.*) not in \{(.*)\})"))) {
    return match[1].str() + " must be one of " + std::regex_replace(match[3].str(), std::regex(","), ", ") +
           " (not '" + match[2].str() + "')";
  }
  if (std::regex_match(text, match, std::regex(R"(Could not convert: (\S+) = (.*))"))) {
    return "'" + match[2].str() + "' is not a valid value for " + match[1].str();
  }
  if (std::regex_match(text, match, std::regex(R"((\S+): Value (.*) not in range .*)"))) {
    return "'" + match[2].str() + "' is out of range for " + match[1].str();
  }
  return text;
}

}  // namespace

std::string CommandPath(const CLI::App& command) {
  std::string path = command.get_name();
  for (const CLI::App* parent = command.get_parent(); parent; parent = parent->get_parent()) {
    path = parent->get_name() + " " + path;
  }
  return path;
}

const CLI::App& InnermostCommand(const CLI::App& app) {
  const CLI::App* command = &app;
  for (;;) {
    const auto parsed = command->get_subcommands();
    if (parsed.empty()) return *command;
    command = parsed.front();
  }
}

std::string PlainParseMessage(const CLI::ParseError& error, const CLI::App& command) {
  return Reword(error.what(), command) + " (see '" + CommandPath(command) + " --help')";
}

}  // namespace varnolt::cli
