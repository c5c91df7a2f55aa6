// The pages of one mailbox (/mailbox?mailbox=user@domain), one domain
// (/domain?domain=example.com) and all mailboxes (/mailboxes), with their
// JSON twins under /api/; each takes range and the search's filters.
#pragma once

#include <cstdint>
#include <optional>

#include "dashboard/dashboard_data.h"
#include "dashboard/http_service.h"
#include "varnolt/session.h"

namespace varnolt::dashboard {

// The answer when the request is for one of these pages, else none.
std::optional<HttpResponse> ViewRoute(cli::Session& session, DashboardSource& source, const HttpRequest& request,
                                      int64_t now);

}  // namespace varnolt::dashboard
