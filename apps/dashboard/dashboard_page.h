// The dashboard's pages as HTML, everything escaped that came from mail or
// mailbox names, the plots inline SVG and the one script (sorting the
// mailbox table) inline, so that the page works without a network.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// The parts the pages share. Page: a whole document with the style, and the
// sorting script when given its nonce.
std::string Page(const std::string& title, const std::string& body, const std::string& script_nonce = "",
                 int refresh_seconds = 0);
std::string Percent(double rate);                      // "1.25%"
std::string Score(const std::optional<double>& score);  // "0.8049", "-" for none
std::string Cell(int64_t value);                       // a right-aligned <td>
// A row of a totals table: the span's title (HTML), then its figures.
std::string TotalsRow(const std::string& span, const journal::Totals& totals);

// Where a search form sends its query: hidden fields it carries along
// (HTML), the link that clears the filters, and whether the mailbox is asked.
struct SearchPlace {
  std::string action = "/";
  std::string hidden;
  std::string clear = "/";
  bool filtered = false;  // show the "clear" link
  bool mailbox_field = true;
};
std::string SearchFormHtml(const journal::VerdictQuery& query, const SearchPlace& place);
// Verdict records, newest first, each linking to its mailbox and its "why?".
std::string VerdictTableHtml(const std::vector<journal::VerdictRecord>& records, const std::string& id = "latest");
// "newest" and "older" links for a page of records; view: the page's query
// with its filters (HTML-escaped); last_id: the page's oldest record.
std::string PagerHtml(const std::string& view, bool paged, bool more, int64_t last_id);
std::string MailboxTableHtml(const std::vector<MailboxRow>& rows);
// The links to a mailbox's and a domain's page, escaped for an attribute.
std::string MailboxHref(const std::string& mailbox);
std::string DomainHref(const std::string& domain);

}  // namespace varnolt::dashboard
