// The [serve] settings only the dashboard reads, taken from varnolt.conf
// beside those the home's configuration keeps (hosting/home_config.h).
#pragma once

#include <string>

namespace varnolt::hosting {

struct ServeSettings {
  // [serve] mailbox_metrics: each mailbox's model and whitelist sizes on
  // /metrics too. Off by default: two series per mailbox are too many for a
  // scraper at ten thousand users.
  bool mailbox_metrics = false;
  // [serve] doveadm: how the dashboard runs doveadm to move a message of a
  // Dovecot home ("/usr/bin/doveadm", words split at blanks, so options such
  // as "-c FILE" may follow); empty: Dovecot's messages cannot be moved.
  std::string doveadm;
};

// Throws CommandError on a value other than "on" or "off"; a missing file
// gives the defaults.
ServeSettings LoadServeSettings(const std::string& config_path);

}  // namespace varnolt::hosting
