// The answers every page of the dashboard gives alike: HTML under a strict
// Content-Security-Policy, JSON, and the JSON of its figures and records.
#pragma once

#include <string>
#include <vector>

#include "dashboard/dashboard_data.h"
#include "dashboard/http_service.h"
#include "varnolt/json_output.h"

namespace varnolt::dashboard {

// A fresh nonce for a page's inline script.
std::string Nonce();
// nonce: the one inline script the page may run ("": none).
HttpResponse Html(std::string body, const std::string& nonce = "");
HttpResponse JsonResponse(const cli::Json& document);
HttpResponse NotFound(const std::string& what);

cli::Json TotalsJson(const journal::Totals& totals);
cli::Json RecordJson(const journal::VerdictRecord& record);
cli::Json MailboxesJson(const std::vector<MailboxRow>& rows);

}  // namespace varnolt::dashboard
