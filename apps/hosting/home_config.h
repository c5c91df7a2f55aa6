// The home of the command: where its store, registry hive and data live, as
// named by varnolt.conf. Relative paths in the file are relative to the home.
#pragma once

#include <cstdint>
#include <string>

namespace varnolt::hosting {

inline constexpr const char* kConfigFileName = "varnolt.conf";
inline constexpr const char* kDefaultStoreFile = "store.db";
inline constexpr const char* kDefaultRegistryFile = "registry.reg";
inline constexpr const char* kDefaultDataFolder = "data";
inline constexpr const char* kDefaultEventLogTarget = "file:events.log";
inline constexpr const char* kBuiltinEngine = "builtin";
inline constexpr const char* kFileModelStore = "file";
inline constexpr const char* kPostgresModelStore = "postgresql";

struct HomeConfig {
  std::string home;              // absolute
  std::string store_path;        // absolute
  std::string registry_path;     // absolute
  std::string event_log_target;  // "syslog" or "file:" + an absolute path
  std::string engine_name;
  // [engine] autolearn: the engine also learns from its own clear verdicts.
  bool engine_auto_learn = true;
  // [engine] domain_learning: users' corrections and trusted mail teach the
  // domain's shared model too.
  bool engine_domain_learning = true;
  // [engine] domain_consensus: how many users must agree on a message before
  // their lessons teach the domain's model (1: the first does).
  uint32_t engine_domain_consensus = 2;
  // [engine] store: where the spam models live, "file" (an SQLite file per
  // model in the data folder) or "postgresql" (the database named by
  // [engine] postgresql, a libpq connection string).
  std::string engine_store = kFileModelStore;
  std::string engine_postgresql;
  // [journal]: the verdict journal's file (absolute), how many days its
  // records are kept (0: no journal), and whether it keeps subjects.
  std::string journal_path;
  int journal_keep_days = 90;
  bool journal_subjects = false;
  // [journal] store: "file" (journal_path) or "postgresql" (the models'
  // database, shared by the servers; needs [engine] store = postgresql), and
  // [journal] server, the name this server's records carry (the host name).
  std::string journal_store = kFileModelStore;
  std::string journal_server;
  // [serve] password (plain text, kept for older homes) or password_hash (a
  // crypt(3) hash, `varnolt serve --hash-password`): one of them is needed
  // before the dashboard listens beyond loopback.
  std::string serve_password;
  std::string serve_password_hash;
  // [serve] tls_certificate and tls_key (absolute; both or neither): HTTPS.
  std::string serve_tls_certificate;
  std::string serve_tls_key;
};

// The home directory, absolute: the --home option when given, else
// $VARNOLT_HOME, else ./varnolt-home.
std::string ResolveHome(const std::string& option);

// Whether the folder already holds a home (its config, hive or store).
bool HomeExists(const std::string& home);

// Reads <home>/varnolt.conf. Missing keys take their defaults. Throws
// CommandError when the file is missing, unreadable or malformed, or names an
// engine this program does not have.
HomeConfig LoadHomeConfig(const std::string& home);

// The text of a new varnolt.conf with every default spelled out.
std::string DefaultConfigText();

// path made absolute against base when it is relative.
std::string AbsoluteAgainst(const std::string& base, const std::string& path);

}  // namespace varnolt::hosting
