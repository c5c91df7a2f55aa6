// POST /release: an administrator moves a journal record's message into the
// Inbox ("release": the message is good) or into the junk folder ("this is
// spam") from the record's "why?" page. Only behind a password (never
// anonymous, even on loopback), only with the form's token of the login
// (action_tokens.h); each action goes into the journal's audit table and the
// filter's log, naming who did it.
#pragma once

#include <string>
#include <vector>

#include "dashboard/action_tokens.h"
#include "dashboard/dashboard_data.h"
#include "dashboard/http_service.h"
#include "dashboard/release_action.h"

namespace varnolt::dashboard {

inline constexpr const char* kReleasePath = "/release";

class ReleaseEndpoint {
 public:
  // doveadm: [serve] doveadm as written; enabled: a password is configured.
  ReleaseEndpoint(cli::Session& session, DashboardSource& source, const std::string& doveadm, bool enabled);

  // The record's buttons and the actions taken on it so far, for its "why?"
  // page; "" when actions are off.
  std::string PanelHtml(const journal::VerdictRecord& record, const std::string& authorization);
  // Any method: all but an authenticated POST with the token is refused.
  HttpResponse Handle(const HttpRequest& request);

 private:
  void Record(const journal::VerdictRecord& record, MoveTarget target, const std::string& who, MoveOutcome& outcome);

  cli::Session& session_;
  DashboardSource& source_;
  std::vector<std::string> doveadm_;
  bool enabled_;
  ActionTokens tokens_;
};

}  // namespace varnolt::dashboard
