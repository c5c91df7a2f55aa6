// What `varnolt serve` answers: the dashboard page, a record's explanation,
// /metrics and /api/... JSON, all read-only. With a password set, every
// request must carry it (HTTP basic authentication, any user name; compared
// in constant time).
#pragma once

#include <string>

#include "dashboard/dashboard_data.h"
#include "dashboard/http_service.h"
#include "varnolt/session.h"

namespace varnolt::cli {

class DashboardHandler : public HttpHandler {
 public:
  // password: "" for none. address: what the server listens on, for its first line.
  DashboardHandler(Session& session, std::string password, std::string address);

  HttpResponse Handle(const HttpRequest& request) override;
  void Listening(int port) override;

 private:
  HttpResponse Route(const HttpRequest& request);
  HttpResponse Explain(const HttpRequest& request, bool json);

  Session& session_;
  DashboardSource source_;
  std::string password_;
  std::string address_;
};

// True when the header carries the password (HTTP basic authentication, any user name).
bool BasicAuthMatches(const std::string& authorization, const std::string& password);

// Equal texts, in a time that does not depend on where they differ.
bool ConstantTimeEquals(const std::string& given, const std::string& expected);

}  // namespace varnolt::cli
