#include "hosting/home_config.h"

#include <unistd.h>

#include <ini.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "hosting/command_error.h"

namespace varnolt::hosting {
namespace {

namespace fs = std::filesystem;

// section.key -> value, as read.
using IniValues = std::map<std::string, std::string>;

int CollectValue(void* user, const char* section, const char* name, const char* value) {
  auto* values = static_cast<IniValues*>(user);
  (*values)[std::string(section) + "." + name] = value;
  return 1;
}

std::string ValueOr(const IniValues& values, const std::string& key, const std::string& fallback) {
  auto it = values.find(key);
  return it == values.end() || it->second.empty() ? fallback : it->second;
}

// "file:<path>" with the path made absolute; other targets as written.
std::string ResolveEventLogTarget(const std::string& home, const std::string& target) {
  constexpr std::string_view kFilePrefix = "file:";
  if (target.rfind(kFilePrefix, 0) != 0) return target;
  return std::string(kFilePrefix) + AbsoluteAgainst(home, target.substr(kFilePrefix.size()));
}

bool OnOff(const std::string& path, const IniValues& values, const std::string& key, const char* fallback) {
  const std::string value = ValueOr(values, key, fallback);
  if (value != "on" && value != "off") {
    const size_t dot = key.find('.');
    throw CommandError(path + ": [" + key.substr(0, dot) + "] " + key.substr(dot + 1) + " must be 'on' or 'off', not '" +
                       value + "'");
  }
  return value == "on";
}

void LoadJournalAndServe(const std::string& path, const IniValues& values, HomeConfig* config) {
  config->journal_path = AbsoluteAgainst(config->home, ValueOr(values, "journal.path", "journal.db"));
  const std::string keep_days = ValueOr(values, "journal.keep_days", "90");
  char* end = nullptr;
  const long days = std::strtol(keep_days.c_str(), &end, 10);
  if (end == keep_days.c_str() || *end != '\0' || days < 0 || days > 36500) {
    throw CommandError(path + ": [journal] keep_days must be a number of days from 0 to 36500, not '" + keep_days +
                       "'");
  }
  config->journal_keep_days = static_cast<int>(days);
  config->journal_subjects = OnOff(path, values, "journal.subjects", "off");
  config->journal_store = ValueOr(values, "journal.store", kFileModelStore);
  if (config->journal_store != kFileModelStore && config->journal_store != kPostgresModelStore) {
    throw CommandError(path + ": [journal] store must be 'file' or 'postgresql', not '" + config->journal_store + "'");
  }
  if (config->journal_store == kPostgresModelStore && config->engine_store != kPostgresModelStore) {
    throw CommandError(path + ": [journal] store = postgresql needs [engine] store = postgresql (its database)");
  }
  config->journal_server = ValueOr(values, "journal.server", "");
  if (config->journal_server.empty()) {
    char name[256] = {};
    config->journal_server = ::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' ? name : "localhost";
  }
  config->serve_password = ValueOr(values, "serve.password", "");
  config->serve_password_hash = ValueOr(values, "serve.password_hash", "");
  const std::string certificate = ValueOr(values, "serve.tls_certificate", "");
  const std::string key = ValueOr(values, "serve.tls_key", "");
  if (certificate.empty() != key.empty()) {
    throw CommandError(path + ": [serve] tls_certificate and tls_key go together: set both or neither");
  }
  if (!certificate.empty()) {
    config->serve_tls_certificate = AbsoluteAgainst(config->home, certificate);
    config->serve_tls_key = AbsoluteAgainst(config->home, key);
  }
}

}  // namespace

std::string AbsoluteAgainst(const std::string& base, const std::string& path) {
  fs::path p(path);
  if (p.is_relative()) p = fs::path(base) / p;
  std::string absolute = p.lexically_normal().string();
  // "dir/" stays "dir/" when normalised: drop the separator so paths compose cleanly.
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

std::string ResolveHome(const std::string& option) {
  std::string home = option;
  if (home.empty()) {
    const char* env = std::getenv("VARNOLT_HOME");
    home = env && *env ? env : "varnolt-home";
  }
  return AbsoluteAgainst(fs::current_path().string(), home);
}

bool HomeExists(const std::string& home) {
  std::error_code ignored;
  for (const char* name : {kConfigFileName, kDefaultRegistryFile, kDefaultStoreFile}) {
    if (fs::exists(fs::path(home) / name, ignored)) return true;
  }
  return false;
}

HomeConfig LoadHomeConfig(const std::string& home) {
  const std::string path = (fs::path(home) / kConfigFileName).string();
  std::error_code ignored;
  if (!fs::exists(path, ignored)) {
    throw CommandError("no varnolt home at " + home + " (create one with 'varnolt init')");
  }
  IniValues values;
  const int status = ini_parse(path.c_str(), CollectValue, &values);
  if (status < 0) throw CommandError("cannot read " + path);
  if (status > 0) throw CommandError(path + ": line " + std::to_string(status) + " is not valid");

  HomeConfig config;
  config.home = home;
  config.store_path = AbsoluteAgainst(home, ValueOr(values, "store.path", kDefaultStoreFile));
  config.registry_path = AbsoluteAgainst(home, ValueOr(values, "registry.path", kDefaultRegistryFile));
  config.event_log_target =
      ResolveEventLogTarget(home, ValueOr(values, "eventlog.target", kDefaultEventLogTarget));
  config.engine_name = ValueOr(values, "engine.name", kBuiltinEngine);
  if (config.engine_name != kBuiltinEngine) {
    throw CommandError(path + ": unknown spam engine '" + config.engine_name + "' (this build has 'builtin')");
  }
  const std::string auto_learn = ValueOr(values, "engine.autolearn", "on");
  if (auto_learn != "on" && auto_learn != "off") {
    throw CommandError(path + ": [engine] autolearn must be 'on' or 'off', not '" + auto_learn + "'");
  }
  config.engine_auto_learn = auto_learn == "on";
  const std::string domain_learning = ValueOr(values, "engine.domain_learning", "on");
  if (domain_learning != "on" && domain_learning != "off") {
    throw CommandError(path + ": [engine] domain_learning must be 'on' or 'off', not '" + domain_learning + "'");
  }
  config.engine_domain_learning = domain_learning == "on";
  const std::string consensus = ValueOr(values, "engine.domain_consensus", "2");
  char* end = nullptr;
  const long users = std::strtol(consensus.c_str(), &end, 10);
  if (end == consensus.c_str() || *end != '\0' || users < 1 || users > 1000000) {
    throw CommandError(path + ": [engine] domain_consensus must be a number of users from 1 to 1000000, not '" +
                       consensus + "'");
  }
  config.engine_domain_consensus = static_cast<uint32_t>(users);
  config.engine_store = ValueOr(values, "engine.store", kFileModelStore);
  config.engine_postgresql = ValueOr(values, "engine.postgresql", "");
  if (config.engine_store != kFileModelStore && config.engine_store != kPostgresModelStore) {
    throw CommandError(path + ": [engine] store must be 'file' or 'postgresql', not '" + config.engine_store + "'");
  }
  if (config.engine_store == kPostgresModelStore && config.engine_postgresql.empty()) {
    throw CommandError(path + ": [engine] store = postgresql needs [engine] postgresql, a libpq connection string");
  }
  LoadJournalAndServe(path, values, &config);
  return config;
}

std::string DefaultConfigText() {
  return std::string("; The varnolt home. Relative paths are relative to this folder.\n") +
         "[store]\npath = " + kDefaultStoreFile + "\n\n" +
         "[registry]\npath = " + kDefaultRegistryFile + "\n\n" +
         "; \"syslog\", or \"file:<path>\" for one line per entry in a file\n" +
         "[eventlog]\ntarget = " + kDefaultEventLogTarget + "\n\n" +
         "[engine]\nname = " + kBuiltinEngine + "\n" +
         "; \"on\": the engine also learns from its own clear verdicts, as a mail filter that\n"
         "; registers what it decides (HAM only when the header and the body each look like\n"
         "; HAM, and while the user's own model holds fewer than two HAM per SPAM known); a\n"
         "; user's correction still moves a message. \"off\": it learns only what it is taught.\n"
         "autolearn = on\n"
         "; \"on\": every user's corrections and mail from trusted senders also teach the\n"
         "; domain's shared model (each message once), which every mailbox of the domain\n"
         "; consults beside its own. \"off\": only 'varnolt train --domain' teaches it.\n"
         "domain_learning = on\n"
         "; How many users of a domain must teach a message (or a near duplicate of it)\n"
         "; the same way before the domain's shared model learns it; until then each\n"
         "; user's lesson counts for that user alone. 1: the first user's lesson teaches it.\n"
         "domain_consensus = 2\n" +
         "; Where the spam models live: \"file\" (one SQLite file per model in the data\n"
         "; folder) or \"postgresql\" (one database that several mail servers share, named\n"
         "; by postgresql, a libpq connection string such as \"host=db.example dbname=varnolt\").\n"
         "store = " + kFileModelStore + "\npostgresql =\n\n" +
         "; One record per judged message (varnolt serve shows them), kept for keep_days\n"
         "; (0: no journal); subjects are kept only with subjects = on. store = postgresql\n"
         "; keeps it in the models' database ([engine] store = postgresql), where every\n"
         "; server's dashboard shows the records of all, each named by its server (the\n"
         "; host name unless server = is set).\n"
         "[journal]\npath = journal.db\nkeep_days = 90\nsubjects = off\nstore = file\n\n"
         "; The dashboard (varnolt serve) listens on loopback only; on any other address it\n"
         "; asks for this password (HTTP basic authentication, any user name).\n"
         "[serve]\npassword =\n";
}

}  // namespace varnolt::hosting
