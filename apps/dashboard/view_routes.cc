#include "dashboard/view_routes.h"

#include "dashboard/dashboard_responses.h"
#include "dashboard/mailbox_view.h"
#include "dashboard/verdict_filter.h"
#include "dashboard/view_pages.h"
#include "varnolt/cli_errors.h"

namespace varnolt::dashboard {
namespace {

constexpr int kVerdictsOnPage = 50;
// As /api/verdicts allows.
constexpr int kMaxRecordsPerCall = 1000;
// An offset beyond any home's mailboxes: the page is empty, the number stays a number.
constexpr int64_t kMaxOffset = 1'000'000'000;

// A request's parameters checked, or what was wrong with them.
struct ViewRequest {
  std::string name;  // the mailbox or domain
  TimeRange range = kDefaultRange;
  journal::VerdictQuery filters;
  int64_t offset = 0;
  std::string error;
};

ViewRequest Parse(const HttpRequest& request, const char* key, bool json) {
  ViewRequest parsed;
  const auto& query = request.query;
  if (key) {
    const auto found = query.find(key);
    if (found == query.end() || found->second.empty()) {
      const char* example = std::string(key) == "mailbox" ? "user@domain" : "example.com";
      parsed.error = std::string("give the ") + key + ": ?" + key + "=" + example;
      return parsed;
    }
    parsed.name = found->second;
  }
  if (const auto found = query.find("range"); found != query.end() && !found->second.empty()) {
    const std::optional<TimeRange> range = ParseRange(found->second);
    if (!range) {
      parsed.error = "range is one of 24h, 7d, 30d or 1y";
      return parsed;
    }
    parsed.range = *range;
  }
  if (const auto found = query.find("offset"); found != query.end() && !found->second.empty()) {
    const std::string& text = found->second;
    if (text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) {
      parsed.error = "offset is a number of mailboxes";
      return parsed;
    }
    parsed.offset = std::min<int64_t>(std::stoll(text), kMaxOffset);
  }
  ParsedFilters filters = ParseFilters(query, kVerdictsOnPage, json ? kMaxRecordsPerCall : kVerdictsOnPage);
  parsed.filters = filters.query;
  if (parsed.error.empty()) parsed.error = filters.error;
  return parsed;
}

HttpResponse Problem(int status, bool json, const std::string& title, const std::string& message) {
  if (json) return {status, "text/plain; charset=utf-8", message + "\n", {}};
  HttpResponse response = Html(ProblemHtml(title, message));
  response.status = status;
  return response;
}

cli::Json ModelJson(const ModelFigures& model) {
  return {{"ham", model.counts.ham},
          {"spam", model.counts.spam},
          {"bytes", model.bytes ? cli::Json(*model.bytes) : cli::Json(nullptr)}};
}

cli::Json RecordsJson(const std::vector<journal::VerdictRecord>& records) {
  cli::Json out = cli::Json::array();
  for (const journal::VerdictRecord& record : records) out.push_back(RecordJson(record));
  return out;
}

HttpResponse Mailbox(cli::Session& session, DashboardSource& source, const ViewRequest& request, int64_t now,
                     bool json) {
  const std::optional<MailboxView> view =
      ReadMailboxView(session, source, request.name, request.range, request.filters, now);
  if (!view) return Problem(404, json, "Unknown mailbox", "no mailbox " + request.name + " is known here");
  if (!json) return Html(MailboxPageHtml(*view));
  cli::Json out = {{"mailbox", view->mailbox},
                   {"domain", view->domain},
                   {"in_store", view->in_store},
                   {"range", LayoutOf(view->range).key},
                   {"totals", TotalsJson(view->totals)},
                   {"model", ModelJson(view->model)},
                   {"domain_model", ModelJson(view->domain_model)},
                   {"whitelist", view->whitelist},
                   {"corrections", RecordsJson(view->corrections)},
                   {"verdicts", RecordsJson(view->verdicts.records)},
                   {"more", view->verdicts.more}};
  return JsonResponse(out);
}

HttpResponse Domain(cli::Session& session, DashboardSource& source, const ViewRequest& request, int64_t now,
                    bool json) {
  const std::optional<DomainView> view =
      ReadDomainView(session, source, request.name, request.range, request.filters, request.offset, now);
  if (!view) return Problem(404, json, "Unknown domain", "no domain " + request.name + " is known here");
  if (!json) {
    const std::string nonce = Nonce();
    return Html(DomainPageHtml(*view, nonce), nonce);
  }
  cli::Json model = ModelJson(view->model);
  model["waiting"] = view->waiting;
  cli::Json out = {{"domain", view->domain},
                   {"range", LayoutOf(view->range).key},
                   {"totals", TotalsJson(view->totals)},
                   {"model", model},
                   {"mailbox_count", view->mailbox_count},
                   {"offset", view->offset},
                   {"mailboxes", MailboxesJson(view->mailboxes)},
                   {"verdicts", RecordsJson(view->verdicts.records)},
                   {"more", view->verdicts.more}};
  return JsonResponse(out);
}

}  // namespace

std::optional<HttpResponse> ViewRoute(cli::Session& session, DashboardSource& source, const HttpRequest& request,
                                      int64_t now) {
  const std::string& path = request.path;
  const bool json = path.starts_with("/api/");
  const std::string page = json ? path.substr(4) : path;
  const char* key = page == "/mailbox" ? "mailbox" : page == "/domain" ? "domain" : nullptr;
  if (!key && path != "/mailboxes") return std::nullopt;
  const ViewRequest parsed = Parse(request, key, json);
  if (!parsed.error.empty()) return Problem(400, json, "Bad request", parsed.error);
  try {
    if (!key) {
      const std::string nonce = Nonce();
      return Html(MailboxListHtml(ReadMailboxList(source, parsed.offset, now), nonce), nonce);
    }
    if (std::string(key) == "mailbox") return Mailbox(session, source, parsed, now, json);
    return Domain(session, source, parsed, now, json);
  } catch (const cli::UsageError& error) {
    return Problem(400, json, "Bad request", error.what());
  }
}

}  // namespace varnolt::dashboard
