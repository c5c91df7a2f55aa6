#include "dashboard/dashboard_server.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>

#include "dashboard/dashboard_page.h"
#include "dashboard/dashboard_responses.h"
#include "varnolt/item_reference.h"
#include "varnolt/json_output.h"
#include "dashboard/metrics_text.h"
#include "dashboard/verdict_filter.h"
#include "dashboard/view_routes.h"

namespace varnolt::dashboard {
namespace {

constexpr int kLatestOnPage = 50;
constexpr int kDefaultRefreshSeconds = 60;
constexpr int kMaxVerdictsPerCall = 1000;
constexpr int kFailedLoginDelayMs = 500;

}  // namespace

std::string Nonce() {
  std::random_device random;
  char text[40];
  std::snprintf(text, sizeof text, "%08x%08x%08x", random(), random(), random());
  return text;
}

HttpResponse Html(std::string body, const std::string& nonce) {
  HttpResponse response{200, "text/html; charset=utf-8", std::move(body), {}};
  response.headers.push_back(
      {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src 'self' data:" +
                                      (nonce.empty() ? std::string() : "; script-src 'nonce-" + nonce + "'")});
  return response;
}

HttpResponse JsonResponse(const cli::Json& document) {
  return {200, "application/json", document.dump(2, ' ', false, cli::Json::error_handler_t::replace) + "\n", {}};
}

HttpResponse NotFound(const std::string& what) { return {404, "text/plain; charset=utf-8", what + "\n", {}}; }

cli::Json TotalsJson(const journal::Totals& totals) {
  return {{"verdicts", totals.Verdicts()}, {"ham", totals.ham},         {"spam", totals.spam},
          {"none", totals.none},           {"to_junk", totals.to_junk}, {"from_junk", totals.from_junk},
          {"errors", totals.errors},       {"error_rate", ErrorRate(totals)}};
}

cli::Json CluesJson(const std::vector<ScoreClue>& clues) {
  cli::Json out = cli::Json::array();
  for (const ScoreClue& clue : clues) {
    out.push_back({{"part", clue.source == ClueSource::kCounts ? "counts" : "linear"},
                   {"token", clue.token},
                   {"value", clue.value}});
  }
  return out;
}

cli::Json RecordJson(const journal::VerdictRecord& record) {
  return {{"id", record.id},
          {"time", record.time},
          {"mailbox", record.mailbox},
          {"message_id", record.message_id},
          {"sender", record.sender},
          {"sender_domain", record.sender_domain},
          {"subject", record.subject},
          {"size", record.size},
          {"score", record.score ? cli::Json(*record.score) : cli::Json(nullptr)},
          {"verdict", record.verdict},
          {"action", record.action},
          {"learned", record.learned},
          {"decided_by", record.decided_by},
          {"host", record.host},
          {"server", record.server},
          {"elapsed_us", record.elapsed_us},
          {"error", record.error},
          {"counts_part", record.counts_part ? cli::Json(*record.counts_part) : cli::Json(nullptr)},
          {"linear_part", record.linear_part ? cli::Json(*record.linear_part) : cli::Json(nullptr)},
          {"linear_weight", record.linear_weight ? cli::Json(*record.linear_weight) : cli::Json(nullptr)},
          {"clues", CluesJson(record.clues)},
          {"correction", record.correction.empty() ? cli::Json(nullptr) : cli::Json(record.correction)},
          {"corrected_at", record.correction.empty() ? cli::Json(nullptr) : cli::Json(record.corrected_at)}};
}

cli::Json MailboxesJson(const std::vector<MailboxRow>& rows) {
  cli::Json out = cli::Json::array();
  for (const MailboxRow& row : rows) {
    cli::Json entry = {{"mailbox", row.mailbox},
                       {"model", {{"ham", row.model.ham}, {"spam", row.model.spam}}},
                       {"whitelist", row.whitelist}};
    entry.update(TotalsJson(row.totals));
    out.push_back(entry);
  }
  return out;
}

namespace {

std::optional<int64_t> IdOf(const HttpRequest& request, const char* name = "id") {
  const auto found = request.query.find(name);
  if (found == request.query.end() || found->second.empty() || found->second.size() > 18) return std::nullopt;
  for (char c : found->second) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return std::stoll(found->second);
}

}  // namespace

DashboardHandler::DashboardHandler(cli::Session& session, std::string password, std::string password_hash,
                                   std::string url, hosting::ServeSettings settings)
    : session_(session),
      source_(session),
      login_(std::move(password), std::move(password_hash),
             [](const std::string& line) { std::cerr << "varnolt serve: " << line << std::endl; }),
      url_(std::move(url)),
      settings_(settings),
      release_(session, source_, settings_.doveadm, login_.Required()) {}

void DashboardHandler::Listening(int port) {
  std::cout << "varnolt: serving the dashboard at " << url_ << ":" << port << "/ ("
            << (login_.Required() ? "password required; a record's page can move its message" : "read-only")
            << "); Ctrl-C stops it" << std::endl;
}

HttpResponse DashboardHandler::Handle(const HttpRequest& request) {
  HttpResponse response;
  const bool acts = request.method == "POST" && request.path == kReleasePath;
  const double now =
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  const bool method_allowed = request.method == "GET" || request.method == "HEAD" || acts;
  const LoginResult login = method_allowed ? login_.Check(request.authorization, request.client,
                                                          request.remote_address, now)
                                           : LoginResult::kMissing;
  if (!method_allowed) {
    response = {405, "text/plain; charset=utf-8", "only GET and HEAD (and POST where the dashboard acts)\n", {}, 0};
    response.headers.push_back({"Allow", "GET, HEAD"});
  } else if (login == LoginResult::kThrottled) {
    response = {429, "text/plain; charset=utf-8", "too many failed logins: try again in a second\n", {}, 0};
    response.headers.push_back({"Retry-After", "1"});
  } else if (login != LoginResult::kAccepted) {
    response = {401, "text/plain; charset=utf-8", "authentication required\n", {}, 0};
    response.headers.push_back({"WWW-Authenticate", "Basic realm=\"varnolt\", charset=\"UTF-8\""});
    // A wrong password is answered late: guessing gets slow even within the budget.
    if (login == LoginResult::kRefused) response.delay_ms = kFailedLoginDelayMs;
  } else {
    try {
      response = Route(request);
    } catch (const ComError& error) {
      response = {503, "text/plain; charset=utf-8", "the home cannot be read: " + error.description() + "\n", {}};
    } catch (const std::exception& error) {
      response = {503, "text/plain; charset=utf-8", std::string("the home cannot be read: ") + error.what() + "\n",
                  {}};
    }
  }
  response.headers.push_back({"X-Content-Type-Options", "nosniff"});
  response.headers.push_back({"X-Frame-Options", "DENY"});
  response.headers.push_back({"Referrer-Policy", "no-referrer"});
  response.headers.push_back({"Cache-Control", "no-store"});
  return response;
}

HttpResponse DashboardHandler::Route(const HttpRequest& request) {
  const int64_t now = hosting::NowSeconds();
  const std::string& path = request.path;
  if (path == "/" || path == "/index.html") {
    TimeRange range = kDefaultRange;
    if (const auto found = request.query.find("range"); found != request.query.end()) {
      const std::optional<TimeRange> parsed = ParseRange(found->second);
      if (!parsed) return {400, "text/plain; charset=utf-8", "range is one of 24h, 7d, 30d or 1y\n", {}};
      range = *parsed;
    }
    int refresh = kDefaultRefreshSeconds;
    if (request.query.count("refresh")) {
      const std::optional<int64_t> seconds = IdOf(request, "refresh");
      if (!seconds) return {400, "text/plain; charset=utf-8", "refresh is a number of seconds (0: never)\n", {}};
      // Not so often that a forgotten tab loads the server.
      refresh = *seconds == 0 ? 0 : static_cast<int>(std::clamp<int64_t>(*seconds, 10, 86400));
    }
    const ParsedFilters filters = ParseFilters(request.query, kLatestOnPage, kLatestOnPage);
    if (!filters.error.empty()) return {400, "text/plain; charset=utf-8", filters.error + "\n", {}};
    const std::string nonce = Nonce();
    return Html(DashboardHtml(source_.Collect(now, kLatestOnPage, filters.query, range),
                              session_.Home(), nonce, refresh),
                nonce);
  }
  if (path == kReleasePath) return release_.Handle(request);
  if (std::optional<HttpResponse> view = ViewRoute(session_, source_, request, now)) return *view;
  if (path == "/explain") return Explain(request, false);
  if (path == "/api/explain") return Explain(request, true);
  if (path == "/metrics") {
    MetricsInput input;
    if (journal::Journal* journal = source_.Journal()) {
      input.counters = journal->AllTime();
      input.alerts = journal->ForAlerts();
      input.records = journal->RecordCount();
    }
    input.version = VARNOLT_VERSION;
    input.server = session_.Config().journal_server;
    input.mailbox_metrics = settings_.mailbox_metrics;
    input.mailboxes = source_.Mailboxes(now, settings_.mailbox_metrics);
    input.domains = source_.DomainModels(input.mailboxes);
    if (!input.mailbox_metrics) input.mailboxes.clear();
    return {200, "text/plain; version=0.0.4; charset=utf-8", MetricsText(input), {}};
  }
  if (path == "/api/summary") {
    const DashboardData data = source_.Collect(now, 0);
    cli::Json hours = cli::Json::array(), days = cli::Json::array();
    for (const journal::HourFigures& hour : data.hours) {
      cli::Json entry = {{"start", hour.hour * 3600}};
      entry.update(TotalsJson(hour.totals));
      hours.push_back(entry);
    }
    for (const DayFigures& day : data.days) {
      cli::Json entry = {{"date", UtcText(day.day * 86400, false)}};
      entry.update(TotalsJson(day.totals));
      days.push_back(entry);
    }
    return JsonResponse({{"now", now},
                         {"records", data.records},
                         {"today", TotalsJson(data.today)},
                         {"last_7_days", TotalsJson(data.week)},
                         {"last_30_days", TotalsJson(data.month)},
                         {"hours", hours},
                         {"days", days}});
  }
  if (path == "/api/mailboxes") return JsonResponse(MailboxesJson(source_.Mailboxes(now)));
  if (path == "/api/verdicts") {
    // A page: ?before=ID continues after the oldest record of the last one.
    const ParsedFilters filters = ParseFilters(request.query, kLatestOnPage, kMaxVerdictsPerCall);
    if (!filters.error.empty()) return {400, "text/plain; charset=utf-8", filters.error + "\n", {}};
    cli::Json out = cli::Json::array();
    if (journal::Journal* journal = source_.Journal()) {
      for (const journal::VerdictRecord& record : journal->Search(filters.query)) out.push_back(RecordJson(record));
    }
    return JsonResponse(out);
  }
  if (path == "/api/settings") {
    cli::Json out = cli::Json::array();
    for (const SettingRow& row : source_.Collect(now, 0).settings) {
      out.push_back({{"name", row.name}, {"value", row.value}, {"allowed", row.allowed}, {"meaning", row.meaning}});
    }
    return JsonResponse(out);
  }
  return NotFound("no such page: " + path);
}

HttpResponse DashboardHandler::Explain(const HttpRequest& request, bool json) {
  const std::optional<int64_t> id = IdOf(request);
  if (!id) return {400, "text/plain; charset=utf-8", "give the record's number: ?id=N\n", {}};
  const std::optional<journal::VerdictRecord> record = source_.Find(*id);
  if (!record) return NotFound("no journal record " + std::to_string(*id));
  std::optional<cli::ItemExplanation> explanation;
  std::string reason;
  if (record->message_id.empty()) {
    reason = "The message has no Message-ID, so it cannot be found again.";
  } else {
    try {
      const std::string url = cli::ResolveItemReference(session_.LookupStore(), "id:" + record->message_id);
      explanation = cli::ExplainItem(session_, url, 15);
      if (strcasecmp(explanation->mailbox.c_str(), record->mailbox.c_str()) != 0) {
        explanation.reset();
        reason = "The message is no longer in " + record->mailbox + ".";
      }
    } catch (const std::exception& error) {
      reason = std::string("The message cannot be explained now: ") + error.what() +
               (record->host == "dovecot" ? " (it was delivered through Dovecot, whose mail this store does not hold)"
                                          : "");
    }
  }
  if (!json) {
    return Html(ExplanationHtml(*record, explanation, reason, release_.PanelHtml(*record, request.authorization)));
  }
  return JsonResponse({{"record", RecordJson(*record)},
                       {"explanation", explanation ? cli::ExplanationJson(*explanation) : cli::Json(nullptr)},
                       {"reason", reason.empty() ? cli::Json(nullptr) : cli::Json(reason)}});
}

}  // namespace varnolt::dashboard
