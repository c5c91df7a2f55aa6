// The domain whose shared spam model a command means (`--domain DOMAIN`).
#pragma once

#include <string>

#include "varnolt/session.h"

namespace varnolt::cli {

struct DomainModelTarget {
  std::string domain;      // as the filter names the domain's folder
  std::string model_path;  // the shared model's composed path
};

// The domain spelled as the data folder holds it when a folder of that name
// exists in another letter case (the store ignores letter case, the filter
// names the folder after the store's name), else as given. Throws
// UsageError for a name no mailbox could have, CommandError without a data
// folder.
DomainModelTarget DomainModelOf(Session& session, const std::string& domain);

}  // namespace varnolt::cli
