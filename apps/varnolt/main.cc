// varnolt: the command-line host of the filter. It owns a mailbox store,
// delivers mail into it, performs users' moves, raises the store's events on
// the filter it loads, and administers settings, mailboxes and the filter's data.
#include <sysexits.h>

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "hosting/filter_library.h"
#include "platform/com/com_error.h"
#include "varnolt/cli_errors.h"
#include "varnolt/command_groups.h"
#include "varnolt/help_examples.h"
#include "varnolt/parse_errors.h"
#include "varnolt/session.h"

namespace varnolt::cli {
namespace {

// The first word that is no option (nor the value of --home): the command.
std::string CommandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home") {
      ++i;
    } else if (arg == "--") {
      return i + 1 < argc ? argv[i + 1] : "";
    } else if (arg.empty() || arg[0] != '-') {
      return arg;
    }
  }
  return "";
}

int Fail(int status, const std::string& message) {
  std::cout.flush();
  std::cerr << "varnolt: " << message << '\n';
  return status;
}

int Run(int argc, char** argv) {
  Session session;
  CLI::App app{"Host of the VarnoltFilter mail filter: a mailbox store, its events and the filter's data.",
               "varnolt"};
  app.add_option("--home", session.home_option(), "The home folder (default: $VARNOLT_HOME, else ./varnolt-home)");
  app.set_version_flag("--version", std::string("varnolt ") + VARNOLT_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  const std::string word = CommandWord(argc, argv);
  const bool every_command = AddCommands(app, session, word);
  AddHelpExamples(app, every_command);

  const auto known = app.get_subcommands([&word](const CLI::App* sub) { return sub->get_name() == word; });
  if (!word.empty() && known.empty()) {
    return Fail(kExitUsage, "unknown command '" + word + "' (see 'varnolt --help')");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    // deliver speaks sysexits.h to a transfer agent, usage errors included.
    return Fail(word == "deliver" ? EX_USAGE : kExitUsage, PlainParseMessage(error, InnermostCommand(app)));
  } catch (const ExitStatusError& error) {
    return Fail(error.status(), error.what());
  } catch (const UsageError& error) {
    return Fail(kExitUsage, error.what());
  } catch (const hosting::CommandError& error) {
    return Fail(kExitFailure, error.what());
  } catch (const ComError& error) {
    return Fail(kExitFailure, hosting::ComErrorText(error));
  } catch (const std::exception& error) {
    return Fail(kExitFailure, error.what());
  }
  std::cout.flush();
  if (!std::cout) return Fail(kExitFailure, "cannot write standard output");
  return session.exit_status();
}

}  // namespace
}  // namespace varnolt::cli

int main(int argc, char** argv) { return varnolt::cli::Run(argc, argv); }
