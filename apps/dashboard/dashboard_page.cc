#include "dashboard/dashboard_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

#include "dashboard/svg_plot.h"
#include "dashboard/verdict_filter.h"

namespace varnolt::dashboard {
namespace {

constexpr const char* kHamColor = "#3b8f4f";
constexpr const char* kSpamColor = "#c0392b";
constexpr const char* kNoneColor = "#999999";
constexpr const char* kToJunkColor = "#d35400";
constexpr const char* kFromJunkColor = "#2c6fbb";
constexpr const char* kRateColor = "#6c3483";

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em}"
    "table{border-collapse:collapse;font-size:.9em}td,th{border:1px solid #ccc;padding:3px 7px;text-align:left}"
    "th{background:#f2f2f2}td.n{text-align:right}table.sortable th{cursor:pointer}.muted{color:#777}"
    ".spam{color:#c0392b}.ham{color:#3b8f4f}";

// Sorts the mailbox table by the clicked column: numbers as numbers.
constexpr const char* kSortScript =
    "document.querySelectorAll('table.sortable').forEach(function(t){"
    "t.querySelectorAll('th').forEach(function(th,i){th.addEventListener('click',function(){"
    "var asc=th.dataset.dir!=='asc';th.dataset.dir=asc?'asc':'desc';var b=t.tBodies[0];"
    "var rows=Array.prototype.slice.call(b.rows);rows.sort(function(x,y){"
    "var a=x.cells[i].dataset.v||x.cells[i].textContent,c=y.cells[i].dataset.v||y.cells[i].textContent;"
    "var na=parseFloat(a),nc=parseFloat(c);var r=(!isNaN(na)&&!isNaN(nc))?na-nc:a.localeCompare(c);"
    "return asc?r:-r;});rows.forEach(function(r){b.appendChild(r);});});});});";

}  // namespace

std::string Percent(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", rate * 100);
  return text;
}

std::string Score(const std::optional<double>& score) {
  if (!score) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", *score);
  return text;
}

std::string Cell(int64_t value) { return "<td class=\"n\">" + std::to_string(value) + "</td>"; }

std::string TotalsRow(const std::string& span, const journal::Totals& totals) {
  return "<tr><th>" + span + "</th>" + Cell(totals.Verdicts()) + Cell(totals.ham) + Cell(totals.spam) +
         Cell(totals.none) + Cell(totals.to_junk) + Cell(totals.from_junk) + "<td class=\"n\">" +
         Percent(ErrorRate(totals)) + "</td>" + Cell(totals.errors) + "</tr>";
}

namespace {

// The query that shows the dashboard with this range and refresh.
std::string ViewQuery(TimeRange range, int refresh_seconds) {
  return std::string("/?range=") + LayoutOf(range).key + "&amp;refresh=" + std::to_string(refresh_seconds);
}

// Links to the other ranges and refresh periods, the chosen ones in bold.
std::string ViewChoices(TimeRange range, int refresh_seconds) {
  std::string html = "<p id=\"view\">Show the ";
  for (const RangeLayout& layout : Ranges()) {
    const std::string title = std::string(layout.title).substr(5);  // without "last "
    html += layout.range == range ? "<b>" + title + "</b>"
                                : "<a href=\"" + ViewQuery(layout.range, refresh_seconds) + "\">" + title + "</a>";
    html += layout.range == Ranges().back().range ? "" : " | ";
  }
  html += " &middot; reload every ";
  const std::pair<int, const char*> periods[] = {{60, "minute"}, {300, "5 minutes"}, {0, "never"}};
  for (const auto& [seconds, title] : periods) {
    html += seconds == refresh_seconds ? std::string("<b>") + title + "</b>"
                                       : "<a href=\"" + ViewQuery(range, seconds) + "\">" + title + "</a>";
    html += seconds == 0 ? "" : " | ";
  }
  return html + "</p>";
}

std::string Plots(const DashboardData& data) {
  const RangeLayout& layout = LayoutOf(data.range);
  const std::string per = layout.per;
  const std::string x_title = layout.bucket_seconds < 86400 ? "time (UTC)" : "date (UTC)";
  const int label_every = std::max(1, (layout.buckets + 7) / 8);
  std::vector<std::string> labels;
  PlotSeries ham{"HAM", kHamColor, {}}, spam{"SPAM", kSpamColor, {}}, none{"none", kNoneColor, {}};
  PlotSeries to_junk{"missed spam (moved to junk)", kToJunkColor, {}};
  PlotSeries from_junk{"rescued (moved out of junk)", kFromJunkColor, {}};
  PlotSeries rate{"error rate", kRateColor, {}};
  for (const Bucket& bucket : data.buckets) {
    labels.push_back(BucketLabel(bucket.start, data.range));
    ham.values.push_back(static_cast<double>(bucket.totals.ham));
    spam.values.push_back(static_cast<double>(bucket.totals.spam));
    none.values.push_back(static_cast<double>(bucket.totals.none));
    to_junk.values.push_back(static_cast<double>(bucket.totals.to_junk));
    from_junk.values.push_back(static_cast<double>(bucket.totals.from_junk));
    // No mail, no rate: a gap in the line rather than a 0% that never happened.
    rate.values.push_back(bucket.totals.Verdicts() == 0 ? std::nan("") : ErrorRate(bucket.totals));
  }
  PlotOptions verdicts;
  verdicts.id = "plot-verdicts";
  verdicts.title = "Messages per " + per + " by verdict";
  verdicts.label_every = label_every;
  verdicts.x_title = x_title;
  verdicts.y_title = "messages per " + per;
  PlotOptions corrections;
  corrections.id = "plot-corrections";
  corrections.title = "Corrections per " + per + " and error rate";
  corrections.label_every = label_every;
  corrections.x_title = x_title;
  corrections.y_title = "corrections per " + per;
  corrections.line_title = "error rate (% of verdicts)";
  return "<h2>Messages per " + per + " by verdict (" + layout.title + ", UTC)</h2>" +
         SvgStackedBars(labels, {ham, spam, none}, std::nullopt, verdicts) + "<h2>Corrections per " + per +
         " and error rate (" + layout.title + ")</h2>" + SvgStackedBars(labels, {to_junk, from_junk}, rate, corrections);
}

std::string Input(const std::string& name, const std::string& label, const std::string& value,
                  const std::string& placeholder = "", int size = 16) {
  return "<label>" + label + " <input name=\"" + name + "\" value=\"" + HtmlEscape(value) + "\" size=\"" +
         std::to_string(size) + "\" placeholder=\"" + placeholder + "\"></label> ";
}

std::string Select(const std::string& name, const std::string& label, const std::string& value,
                   const std::vector<std::string>& choices) {
  std::string html = "<label>" + label + " <select name=\"" + name + "\"><option value=\"\">any</option>";
  for (const std::string& choice : choices) {
    html += "<option" + std::string(choice == value ? " selected" : "") + ">" + choice + "</option>";
  }
  return html + "</select></label> ";
}

std::string ScoreValue(const std::optional<double>& score) {
  if (!score) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%g", *score);
  return text;
}

}  // namespace

// The search of the journal: a plain GET form, so that a result is a link to keep or send on.
std::string SearchFormHtml(const journal::VerdictQuery& q, const SearchPlace& place) {
  std::string html = std::string("<h2>") + (q.Filters() ? "Verdicts found" : "Latest verdicts") +
                     "</h2><form id=\"search\" method=\"get\" action=\"" + place.action + "\">" + place.hidden;
  html += Input("from", "from", q.from ? UtcText(*q.from).replace(10, 1, "T") : "", "YYYY-MM-DD", 16);
  html += Input("to", "before", q.to ? UtcText(*q.to).replace(10, 1, "T") : "", "YYYY-MM-DD", 16);
  if (place.mailbox_field) html += Input("mailbox", "mailbox", q.mailbox, "user@domain", 22);
  html += Input("sender", "sender", q.sender, "user@example.com", 20);
  html += Input("subject", "subject contains", q.subject, "", 16);
  html += Input("sender_domain", "sender's domain", q.sender_domain, "example.com", 18);
  html += Input("message_id", "Message-ID", q.message_id, "", 24);
  html += Input("server", "server", q.server, "", 12) + "<br>";
  html += Select("verdict", "verdict", q.verdict, {"ham", "spam", "none"});
  html += Select("action", "action", q.action, {"filed", "hidden", "left", "removed"});
  html += Input("min_score", "score from", ScoreValue(q.min_score), "0", 5);
  html += Input("max_score", "to", ScoreValue(q.max_score), "1", 5);
  html += Select("corrected", "corrected", q.corrected ? (*q.corrected ? "yes" : "no") : "", {"yes", "no"});
  html += "<button type=\"submit\">search</button>";
  if (place.filtered) html += " <a href=\"" + place.clear + "\">clear</a>";
  return html + "</form>";
}

std::string MailboxHref(const std::string& mailbox) {
  return "/mailbox?mailbox=" + HtmlEscape(UrlEscape(mailbox));
}

std::string DomainHref(const std::string& domain) { return "/domain?domain=" + HtmlEscape(UrlEscape(domain)); }

std::string MailboxLink(const std::string& mailbox) {
  return "<a href=\"" + MailboxHref(mailbox) + "\">" + HtmlEscape(mailbox) + "</a>";
}

std::string VerdictTableHtml(const std::vector<journal::VerdictRecord>& records, const std::string& id) {
  std::string html = "<table id=\"" + id + "\"><thead><tr><th>time (UTC)</th><th>mailbox</th>"
      "<th>sender</th><th>subject</th><th>size</th><th>score</th><th>verdict</th><th>action</th>"
      "<th>decided by</th><th>host</th><th>server</th><th>correction</th><th></th></tr></thead><tbody>";
  for (const journal::VerdictRecord& record : records) {
    html += "<tr><td>" + UtcText(record.time) + "</td><td>" + MailboxLink(record.mailbox) + "</td><td>" +
            HtmlEscape(record.sender.empty() ? record.sender_domain : record.sender) + "</td><td>" +
            HtmlEscape(record.subject) + "</td>" +
            Cell(record.size) + "<td class=\"n\">" + Score(record.score) + "</td><td class=\"" +
            HtmlEscape(record.verdict) + "\">" + HtmlEscape(record.verdict) + "</td><td>" +
            HtmlEscape(record.action) + (record.learned ? ", learned" : "") + "</td><td>" +
            HtmlEscape(record.decided_by) + "</td><td>" + HtmlEscape(record.host) + "</td><td>" +
            HtmlEscape(record.server) + "</td><td>" + HtmlEscape(record.correction) +
            "</td><td><a href=\"/explain?id=" + std::to_string(record.id) +
            "\">why?</a></td></tr>";
  }
  return html + "</tbody></table>";
}

std::string PagerHtml(const std::string& view, bool paged, bool more, int64_t last_id) {
  // A page at a time: a journal of a million records is never sent whole.
  if (!paged && !more) return "";
  std::string html = "<p>";
  if (paged) html += "<a href=\"" + view + "\">newest</a> ";
  if (more) html += "<a href=\"" + view + "&amp;before=" + std::to_string(last_id) + "\">older</a>";
  return html + "</p>";
}

std::string MailboxTableHtml(const std::vector<MailboxRow>& rows) {
  std::string html =
      "<table id=\"mailboxes\" class=\"sortable\"><thead><tr><th>mailbox</th><th>model HAM</th><th>model SPAM</th>"
      "<th>whitelist</th><th>HAM</th><th>SPAM</th><th>none</th><th>to junk</th><th>out of junk</th>"
      "<th>error rate</th></tr></thead><tbody>";
  for (const MailboxRow& row : rows) {
    const double error_rate = ErrorRate(row.totals);
    char rate_value[32];
    std::snprintf(rate_value, sizeof rate_value, "%.6f", error_rate);
    html += "<tr><td data-v=\"" + HtmlEscape(row.mailbox) + "\">" + MailboxLink(row.mailbox) + "</td>" +
            Cell(row.model.ham) + Cell(row.model.spam) + Cell(row.whitelist) + Cell(row.totals.ham) +
            Cell(row.totals.spam) + Cell(row.totals.none) + Cell(row.totals.to_junk) + Cell(row.totals.from_junk) +
            "<td class=\"n\" data-v=\"" + rate_value + "\">" + Percent(error_rate) + "</td></tr>";
  }
  return html + "</tbody></table>";
}

std::string Page(const std::string& title, const std::string& body, const std::string& script_nonce,
                 int refresh_seconds) {
  std::string html = "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">";
  if (refresh_seconds > 0) html += "<meta http-equiv=\"refresh\" content=\"" + std::to_string(refresh_seconds) + "\">";
  html += "<title>" + HtmlEscape(title) + "</title><style>" + kStyle + "</style></head><body>" + body;
  if (!script_nonce.empty()) html += "<script nonce=\"" + script_nonce + "\">" + kSortScript + "</script>";
  return html + "</body></html>";
}

std::string UtcText(int64_t seconds, bool with_time) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, with_time ? "%Y-%m-%d %H:%M" : "%Y-%m-%d", &tm);
  return text;
}

std::string DashboardHtml(const DashboardData& data, const std::string& home, const std::string& nonce,
                          int refresh_seconds) {
  std::string body = "<h1>VarnoltFilter</h1><p class=\"muted\">Home " + HtmlEscape(home) + "; " +
                     UtcText(data.now) + " UTC; " + std::to_string(data.records) + " journal records" +
                     (data.journal_found ? "" : " (no journal yet: nothing has been judged)") +
                     ". Nothing here changes settings; mail only moves from a record's page, with a password.</p>";

  body += "<h2>Totals</h2><table id=\"totals\"><thead><tr><th></th><th>verdicts</th><th>HAM</th><th>SPAM</th>"
          "<th>none</th><th>moved to junk (missed spam)</th><th>moved out of junk (rescued)</th>"
          "<th>error rate</th><th>engine errors</th></tr></thead><tbody>" +
          TotalsRow("today (UTC)", data.today) + TotalsRow("last 7 days", data.week) +
          TotalsRow("last 30 days", data.month) + "</tbody></table>";

  body += ViewChoices(data.range, refresh_seconds) + Plots(data);

  body += "<h2>Mailboxes (last 30 days; click a heading to sort)</h2>";
  if (data.mailbox_count > static_cast<int64_t>(data.mailboxes.size())) {
    body += "<p id=\"mailbox-count\">The " + std::to_string(data.mailboxes.size()) +
            " with the most corrections, then verdicts, of " + std::to_string(data.mailbox_count) +
            ": <a href=\"/mailboxes\">all mailboxes</a>.</p>";
  }
  body += MailboxTableHtml(data.mailboxes);

  SearchPlace place;
  place.hidden = "<input type=\"hidden\" name=\"range\" value=\"" + std::string(LayoutOf(data.range).key) +
                 "\"><input type=\"hidden\" name=\"refresh\" value=\"" + std::to_string(refresh_seconds) + "\">";
  place.filtered = data.filters.Filters();
  place.clear = "/?range=" + std::string(LayoutOf(data.range).key);
  body += SearchFormHtml(data.filters, place) + VerdictTableHtml(data.latest);
  body += PagerHtml(ViewQuery(data.range, refresh_seconds) + FilterParameters(data.filters), data.latest_before > 0,
                    data.more_latest, data.latest.empty() ? 0 : data.latest.back().id);

  body += "<h2>Settings</h2><table id=\"settings\"><thead><tr><th>setting</th><th>value</th><th>allowed</th>"
          "<th>meaning</th></tr></thead><tbody>";
  for (const SettingRow& row : data.settings) {
    body += "<tr><td>" + HtmlEscape(row.name) + "</td><td>" + HtmlEscape(row.value) + "</td><td>" +
            HtmlEscape(row.allowed) + "</td><td>" + HtmlEscape(row.meaning) + "</td></tr>";
  }
  body += "</tbody></table><p class=\"muted\">Figures also at <a href=\"/metrics\">/metrics</a> (Prometheus) and "
          "<a href=\"/api/summary\">/api/summary</a>, <a href=\"/api/mailboxes\">/api/mailboxes</a>, "
          "<a href=\"/api/verdicts\">/api/verdicts</a>, <a href=\"/api/settings\">/api/settings</a>.</p>";
  return Page("VarnoltFilter dashboard", body, nonce, refresh_seconds);
}

namespace {

// The decision as the journal kept it, before any lesson since changed the models.
std::string AtDeliveryHtml(const journal::VerdictRecord& record) {
  std::string text;
  if (record.decided_by == "internal") {
    text = "Decided by the internal-sender rule; the engine was not asked.";
  } else if (record.decided_by == "whitelist") {
    text = "Decided by the whitelist; the engine was not asked.";
  } else if (record.decided_by.empty()) {
    text = "No verdict was given.";
  } else {
    text = "Decided by the " + record.decided_by + ". The engine said " + Score(record.score) + ".";
    if (record.counts_part) text += " From the token counts: " + Score(record.counts_part) + ".";
    if (record.linear_part) {
      text += " From the linear fit: " + Score(record.linear_part) + ", weighted " + Score(record.linear_weight) + ".";
    } else if (record.counts_part) {
      text += " No linear fit yet.";
    }
    if (!record.counts_part && !record.linear_part) {
      text += " The parts of the score were not kept (the models held too little to mix, or the record is older).";
    }
  }
  std::string html = "<h2>At delivery</h2><p id=\"at-delivery\">" + HtmlEscape(text) + "</p>";
  if (record.clues.empty()) return html;
  // The clues the engine gave with its verdict: those that decided, whatever the models learned since.
  html += "<table id=\"delivery-clues\"><thead><tr><th>part</th><th>token</th><th>direction</th><th>value</th>"
          "</tr></thead><tbody>";
  for (const ScoreClue& clue : record.clues) {
    const bool counts = clue.source == ClueSource::kCounts;
    char value[32];
    std::snprintf(value, sizeof value, counts ? "%.4f" : "%+.3f", clue.value);
    html += std::string("<tr><td>") + (counts ? "counting (probability)" : "linear (log-odds)") + "</td><td>" +
            HtmlEscape(clue.token) + "</td><td class=\"" + (clue.ToSpam() ? "spam\">SPAM" : "ham\">HAM") +
            "</td><td class=\"n\">" + value + "</td></tr>";
  }
  return html + "</tbody></table>";
}

}  // namespace

std::string ExplanationHtml(const journal::VerdictRecord& record,
                            const std::optional<cli::ItemExplanation>& explanation, const std::string& missing_reason,
                            const std::string& actions_html) {
  std::string body = "<p><a href=\"/\">&larr; dashboard</a> &middot; <a id=\"mailbox-link\" href=\"" +
                     MailboxHref(record.mailbox) + "\">the mailbox</a></p><h1>Why: record " +
                     std::to_string(record.id) +
                     "</h1><table id=\"record\"><tbody>";
  auto row = [&body](const std::string& name, const std::string& value) {
    body += "<tr><th>" + name + "</th><td>" + HtmlEscape(value) + "</td></tr>";
  };
  row("time (UTC)", UtcText(record.time));
  row("mailbox", record.mailbox);
  row("Message-ID", record.message_id);
  row("sender", record.sender);
  row("sender's domain", record.sender_domain);
  row("subject", record.subject);
  row("size", std::to_string(record.size));
  row("score at delivery", Score(record.score));
  row("verdict", record.verdict);
  row("action", record.action + (record.learned ? ", learned from its own verdict" : ""));
  row("decided by", record.decided_by);
  row("host", record.host);
  row("server", record.server);
  row("correction", record.correction.empty() ? "none" : record.correction + " at " + UtcText(record.corrected_at));
  body += "</tbody></table>" + actions_html + AtDeliveryHtml(record);
  if (!explanation) {
    body += "<p id=\"no-explanation\">" + HtmlEscape(missing_reason) + "</p>";
    return Page("Why: record " + std::to_string(record.id), body);
  }
  const cli::ItemExplanation& e = *explanation;
  std::string decided = "the engine";
  if (e.decided_by == "internal") decided = "the internal-sender rule (mail submitted inside the organisation)";
  if (e.decided_by == "whitelist") decided = "the whitelist (" + e.sender + " is on it)";
  body += "<h2>Now</h2><p id=\"decided-by\">Decided by " + HtmlEscape(decided) + ". The engine says " +
          Score(e.score.spamminess) + " (" + (e.score.is_spam ? "SPAM" : "HAM") + ", SPAM above " +
          Score(e.score.threshold) + "). " + HtmlEscape(cli::ModelsText(e)) + "." +
          (e.score.thin ? " The models hold too little of one class: the engine answers a middle score." : "") + " " +
          std::to_string(e.score.clue_count) + " clues among " + std::to_string(e.score.tokens) + " tokens.</p>";
  body += "<table id=\"clues\"><thead><tr><th>token</th><th>direction</th><th>weight</th><th>probability</th>"
          "<th>HAM</th><th>SPAM</th><th>domain HAM</th><th>domain SPAM</th><th>model</th></tr></thead><tbody>";
  for (const engine::Clue& clue : e.score.clues) {
    char weight[32], probability[32];
    std::snprintf(weight, sizeof weight, "%.3f", clue.Weight());
    std::snprintf(probability, sizeof probability, "%.4f", clue.probability);
    body += "<tr><td>" + HtmlEscape(clue.token) + "</td><td class=\"" + (clue.ToSpam() ? "spam\">SPAM" : "ham\">HAM") +
            "</td><td class=\"n\">" + weight + "</td><td class=\"n\">" + probability + "</td>" + Cell(clue.ham) +
            Cell(clue.spam) + Cell(clue.domain_ham) + Cell(clue.domain_spam) + "<td>" + HtmlEscape(clue.model) +
            "</td></tr>";
  }
  body += "</tbody></table>";
  return Page("Why: record " + std::to_string(record.id), body);
}

}  // namespace varnolt::dashboard
