// What `varnolt serve` answers: the dashboard page, a record's explanation,
// /metrics and /api/... JSON, to those who may see them (dashboard_login.h);
// the one change, a message moved from its record's page, only behind a
// password (release_endpoint.h).
#pragma once

#include <string>

#include "dashboard/dashboard_data.h"
#include "dashboard/dashboard_login.h"
#include "dashboard/http_service.h"
#include "dashboard/release_endpoint.h"
#include "hosting/serve_settings.h"
#include "varnolt/session.h"

namespace varnolt::dashboard {

class DashboardHandler : public HttpHandler {
 public:
  // url: where the server listens, without the port ("http://[::1]"), for its first line.
  DashboardHandler(cli::Session& session, std::string password, std::string password_hash, std::string url,
                   hosting::ServeSettings settings = {});

  HttpResponse Handle(const HttpRequest& request) override;
  void Listening(int port) override;

 private:
  HttpResponse Route(const HttpRequest& request);
  HttpResponse Explain(const HttpRequest& request, bool json);

  cli::Session& session_;
  DashboardSource source_;
  DashboardLogin login_;
  std::string url_;
  hosting::ServeSettings settings_;
  ReleaseEndpoint release_;
};

}  // namespace varnolt::dashboard
