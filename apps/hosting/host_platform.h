// The platform a host builds for the filter from the home's settings: its
// registry hive, event log and [engine] options, the same for every host.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backends/real_platform.h"
#include "engine/builtin_spam_engine.h"
#include "hosting/home_config.h"
#include "platform/save_verdict.h"

namespace varnolt::hosting {

// Where a host finds the filter's verdict of its latest event: the platform
// puts each there; the host empties it before it raises an event.
using VerdictSlot = std::shared_ptr<std::optional<SaveVerdict>>;

// Makes the models of a PostgreSQL [engine] store from its libpq connection string.
using PostgresModelsMaker = std::shared_ptr<engine::ModelBackend> (*)(const std::string& conninfo);

// The maker of a host linked with libpq (postgres_models.cc, the command's).
// The Dovecot plugin brings its own, which loads libpq only when a home uses
// PostgreSQL: every IMAP process that runs an event would otherwise pay for
// loading libpq and the libraries it needs.
std::shared_ptr<engine::ModelBackend> LinkedPostgresModels(const std::string& conninfo);

// The engine's options as the home's [engine] section sets them.
EngineOptions EngineOptionsOf(const HomeConfig& config, PostgresModelsMaker postgres = LinkedPostgresModels);

// The filter's data folder for a constructor string (DataFolderFromConstructorString),
// or "" for an empty string.
std::string DataFolderOf(const std::string& constructor_string);

// The platform over the home's hive and event log. With a slot the filter's
// verdicts are kept in it; services replace the
// process-wide component services (nullptr: the platform's own). Throws
// CommandError when the event log target cannot be opened.
std::unique_ptr<RealPlatform> MakeHostPlatform(const HomeConfig& config,
                                               VerdictSlot verdicts,
                                               std::shared_ptr<ComponentServices> services = nullptr,
                                               PostgresModelsMaker postgres = LinkedPostgresModels);

}  // namespace varnolt::hosting
