// The search of the journal as the page's form and /api/verdicts take it:
// from, to, mailbox, domain (the mailbox's), sender_domain, message_id, verdict, action, min_score,
// max_score, corrected, before and limit as query parameters, and back into
// parameters for the links to the next page.
#pragma once

#include <map>
#include <string>

#include "backends/journal/verdict_search.h"

namespace varnolt::dashboard {

struct ParsedFilters {
  journal::VerdictQuery query;
  std::string error;  // what was wrong, for a 400 answer; "" when all was well
};

// Empty values count as not given (a form sends every field). A time is
// seconds since the epoch, "2026-12-07" or "2026-12-07T14:30" (UTC); a day
// as "to" includes that day.
ParsedFilters ParseFilters(const std::map<std::string, std::string>& parameters, int default_limit, int max_limit);

// The query's filters (not before or limit) as URL parameters, escaped for a
// URL and then for HTML: "&amp;mailbox=a%40example.com...", "" without filters.
std::string FilterParameters(const journal::VerdictQuery& query);

// Percent-escapes all but letters, digits and "-._~", for a URL's query.
std::string UrlEscape(const std::string& text);

}  // namespace varnolt::dashboard
