#include "dashboard/view_pages.h"

#include <algorithm>

#include "dashboard/dashboard_page.h"
#include "dashboard/svg_plot.h"
#include "dashboard/verdict_filter.h"

namespace varnolt::dashboard {
namespace {

constexpr size_t kWhitelistShown = 500;

std::string Hidden(const std::string& name, const std::string& value) {
  return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + HtmlEscape(value) + "\">";
}

// href: the page without its range (HTML-escaped).
std::string RangeChoices(const std::string& href, TimeRange chosen) {
  std::string html = "<p id=\"view\">Figures of the ";
  for (const RangeLayout& layout : Ranges()) {
    const std::string title = std::string(layout.title).substr(5);  // without "last "
    html += layout.range == chosen ? "<b>" + title + "</b>"
                                   : "<a href=\"" + href + "&amp;range=" + layout.key + "\">" + title + "</a>";
    html += layout.range == Ranges().back().range ? "" : " | ";
  }
  return html + " (whole days, UTC)</p>";
}

std::string TotalsTable(TimeRange range, const journal::Totals& totals) {
  return "<table id=\"totals\"><thead><tr><th></th><th>verdicts</th><th>HAM</th><th>SPAM</th><th>none</th>"
         "<th>moved to junk (missed spam)</th><th>moved out of junk (rescued)</th><th>error rate</th>"
         "<th>engine errors</th></tr></thead><tbody>" +
         TotalsRow(LayoutOf(range).title, totals) + "</tbody></table>";
}

std::string Bytes(const std::optional<int64_t>& bytes) {
  return bytes ? "<td class=\"n\">" + std::to_string(*bytes) + "</td>" : "<td class=\"muted\">-</td>";
}

std::string ModelRow(const std::string& title, const ModelFigures& model, const std::string& waiting = "") {
  return "<tr><th>" + title + "</th>" + Cell(model.counts.ham) + Cell(model.counts.spam) + Bytes(model.bytes) +
         (waiting.empty() ? "" : "<td class=\"n\">" + waiting + "</td>") + "</tr>";
}

std::string ModelHead(bool waiting) {
  return std::string("<thead><tr><th>model</th><th>HAM learned</th><th>SPAM learned</th><th>file size (bytes)</th>") +
         (waiting ? "<th>lessons waiting</th>" : "") + "</tr></thead>";
}

// The search of one mailbox's or domain's verdicts. key, value: what the page is of.
std::string Verdicts(const VerdictPage& page, const std::string& action, const std::string& key,
                     const std::string& value, TimeRange range) {
  journal::VerdictQuery filters = page.query;
  filters.mailbox.clear();
  filters.domain.clear();
  const std::string own = "?" + key + "=" + HtmlEscape(UrlEscape(value)) + "&amp;range=" + LayoutOf(range).key;
  SearchPlace place;
  place.action = action;
  place.hidden = Hidden(key, value) + Hidden("range", LayoutOf(range).key);
  place.clear = action + own;
  place.filtered = filters.Filters();
  place.mailbox_field = false;
  return SearchFormHtml(filters, place) + VerdictTableHtml(page.records) +
         PagerHtml(action + own + FilterParameters(filters), page.query.before_id > 0, page.more,
                   page.records.empty() ? 0 : page.records.back().id);
}

// "mailboxes 201 to 400 of 10000" and the links to the pages beside.
std::string MailboxPager(const std::string& href, int64_t offset, size_t shown, int64_t count) {
  if (count <= static_cast<int64_t>(shown) && offset == 0) return "";
  const std::string offset_at = href + (href.ends_with('?') ? "" : "&amp;") + "offset=";
  std::string html = "<p id=\"mailbox-pages\">" +
                     (shown ? "Mailboxes " + std::to_string(offset + 1) + " to " +
                                  std::to_string(offset + static_cast<int64_t>(shown))
                            : "None past " + std::to_string(offset)) +
                     " of " + std::to_string(count) + ".";
  if (offset > 0) {
    // Past the end: back to the last page.
    const int64_t previous = std::max<int64_t>(0, std::min(offset, count) - kMailboxesPerPage);
    html += " <a href=\"" + offset_at + std::to_string(previous) +
            "\">previous</a>";
  }
  if (offset + static_cast<int64_t>(shown) < count) {
    html += " <a href=\"" + offset_at + std::to_string(offset + kMailboxesPerPage) + "\">next</a>";
  }
  return html + "</p>";
}

}  // namespace

std::string MailboxPageHtml(const MailboxView& view) {
  const std::string href = MailboxHref(view.mailbox);
  std::string body = "<p><a href=\"/\">&larr; dashboard</a> &middot; domain <a id=\"domain-link\" href=\"" +
                     DomainHref(view.domain) + "\">" + HtmlEscape(view.domain) + "</a></p><h1>Mailbox " +
                     HtmlEscape(view.mailbox) + "</h1>";
  if (!view.in_store) {
    body += "<p class=\"muted\">Not in the store: known only by the journal (removed since, or another mail "
            "system's user).</p>";
  }
  body += RangeChoices(href, view.range) + TotalsTable(view.range, view.totals);
  body += "<h2>Models</h2><table id=\"models\">" + ModelHead(false) + "<tbody>" +
          ModelRow("the mailbox's", view.model) + ModelRow("the domain's shared", view.domain_model) + "</tbody></table>";
  body += "<h2>Whitelist: " + std::to_string(view.whitelist.size()) +
          (view.whitelist.size() == 1 ? " sender" : " senders") + "</h2>";
  if (!view.whitelist_error.empty()) {
    body += "<p id=\"whitelist-error\">The whitelist cannot be read: " + HtmlEscape(view.whitelist_error) + "</p>";
  }
  body += "<ul id=\"whitelist\">";
  for (size_t i = 0; i < view.whitelist.size() && i < kWhitelistShown; ++i) {
    body += "<li>" + HtmlEscape(view.whitelist[i]) + "</li>";
  }
  body += "</ul>";
  if (view.whitelist.size() > kWhitelistShown) {
    body += "<p class=\"muted\">The first " + std::to_string(kWhitelistShown) +
            " shown; `varnolt whitelist list` gives all.</p>";
  }
  body += "<h2>Latest corrections</h2>" + VerdictTableHtml(view.corrections, "corrections");
  body += Verdicts(view.verdicts, "/mailbox", "mailbox", view.mailbox, view.range);
  body += "<p class=\"muted\">Also as JSON: <a href=\"/api" + href + "\">/api/mailbox</a>.</p>";
  return Page("Mailbox " + view.mailbox, body);
}

std::string DomainPageHtml(const DomainView& view, const std::string& nonce) {
  const std::string href = DomainHref(view.domain);
  std::string body = "<p><a href=\"/\">&larr; dashboard</a></p><h1>Domain " + HtmlEscape(view.domain) + "</h1>" +
                     RangeChoices(href, view.range) + TotalsTable(view.range, view.totals);
  body += "<h2>Shared model</h2><table id=\"models\">" + ModelHead(true) + "<tbody>" +
          ModelRow("the domain's shared", view.model, std::to_string(view.waiting)) + "</tbody></table>";
  body += "<h2>Mailboxes (" + std::string(LayoutOf(view.range).title) + "; click a heading to sort)</h2>" +
          MailboxPager(href + "&amp;range=" + LayoutOf(view.range).key, view.offset, view.mailboxes.size(),
                       view.mailbox_count) +
          MailboxTableHtml(view.mailboxes);
  body += Verdicts(view.verdicts, "/domain", "domain", view.domain, view.range);
  body += "<p class=\"muted\">Also as JSON: <a href=\"/api" + href + "\">/api/domain</a>.</p>";
  return Page("Domain " + view.domain, body, nonce);
}

std::string MailboxListHtml(const MailboxList& list, const std::string& nonce) {
  std::string body = "<p><a href=\"/\">&larr; dashboard</a></p><h1>All mailboxes</h1>"
                     "<h2>Mailboxes (last 30 days; click a heading to sort this page)</h2>" +
                     MailboxPager("/mailboxes?", list.offset, list.mailboxes.size(), list.mailbox_count) +
                     MailboxTableHtml(list.mailboxes);
  return Page("All mailboxes", body, nonce);
}

std::string ProblemHtml(const std::string& title, const std::string& message) {
  return Page(title, "<p><a href=\"/\">&larr; dashboard</a></p><h1>" + HtmlEscape(title) + "</h1><p id=\"problem\">" +
                         HtmlEscape(message) + "</p>");
}

}  // namespace varnolt::dashboard
