// The dashboard's pages as HTML, everything escaped that came from mail or
// mailbox names, the plots inline SVG and the one script (sorting the
// mailbox table) inline, so that the page works without a network.
#pragma once

#include <optional>
#include <string>

#include "dashboard/dashboard_data.h"
#include "varnolt/item_explanation.h"

namespace varnolt::dashboard {

// nonce: the Content-Security-Policy nonce of the inline script;
// refresh_seconds: the page reloads itself this often (0: never).
std::string DashboardHtml(const DashboardData& data, const std::string& home, const std::string& nonce,
                          int refresh_seconds);

// One journal record and, when the message is still in the store, why the
// filter judges it as it does (or why it cannot be explained); actions_html:
// what can be done with the message, below the record.
std::string ExplanationHtml(const journal::VerdictRecord& record,
                            const std::optional<cli::ItemExplanation>& explanation, const std::string& missing_reason,
                            const std::string& actions_html = "");

// "2026-12-07 23:05" (UTC).
std::string UtcText(int64_t seconds, bool with_time = true);

}  // namespace varnolt::dashboard
