#include "dashboard/release_endpoint.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "dashboard/dashboard_login.h"
#include "dashboard/dashboard_page.h"
#include "dashboard/svg_plot.h"
#include "diagnostics/text_log.h"
#include "hosting/journal_writer.h"

namespace varnolt::dashboard {
namespace {

constexpr size_t kMaxNameBytes = 64;

// Text from a login or a message made safe for one log line: no line breaks or other controls.
std::string OneLine(const std::string& text, size_t max_bytes = std::string::npos) {
  size_t end = std::min(text.size(), max_bytes);
  // Cut between characters, never inside one.
  while (end < text.size() && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  std::string out;
  for (char c : text.substr(0, end)) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7F ? '?' : c;
  }
  return out;
}

// Any user name passes the login (only the password is checked): it is the
// name the administrator gave, kept as said.
std::string WhoOf(const std::string& authorization) {
  const std::string name = OneLine(BasicAuthUser(authorization), kMaxNameBytes);
  return name.empty() ? "admin" : name;
}

const char* TargetWords(MoveTarget target) {
  return target == MoveTarget::kInbox ? "to the Inbox" : "into the junk folder";
}

int StatusOf(const std::string& outcome) {
  if (outcome == "moved") return 200;
  if (outcome == "already") return 409;
  if (outcome == "gone") return 404;
  return 500;
}

HttpResponse Plain(int status, const std::string& text) {
  return {status, "text/plain; charset=utf-8", text + "\n", {}};
}

HttpResponse ResultPage(int status, int64_t id, const std::string& message) {
  const std::string back = "/explain?id=" + std::to_string(id);
  HttpResponse response{status,
                        "text/html; charset=utf-8",
                        "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Record " +
                            std::to_string(id) +
                            "</title></head><body style=\"font-family:sans-serif\">"
                            "<p id=\"outcome\">" +
                            HtmlEscape(message) + "</p><p><a href=\"" + back + "\">&larr; back to record " +
                            std::to_string(id) + "</a></p></body></html>",
                        {}};
  response.headers.push_back({"Content-Security-Policy", "default-src 'none'"});
  return response;
}

std::optional<int64_t> FormId(const HttpRequest& request) {
  const auto found = request.form.find("id");
  if (found == request.form.end() || found->second.empty() || found->second.size() > 18 ||
      found->second.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoll(found->second);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

ReleaseEndpoint::ReleaseEndpoint(cli::Session& session, DashboardSource& source, const std::string& doveadm,
                                 bool enabled)
    : session_(session), source_(source), doveadm_(Words(doveadm)), enabled_(enabled) {}

std::string ReleaseEndpoint::PanelHtml(const journal::VerdictRecord& record, const std::string& authorization) {
  if (!enabled_) return "";
  const std::string id = std::to_string(record.id);
  std::string html =
      "<h2>Act on the message</h2><form id=\"release\" method=\"post\" action=\"" + std::string(kReleasePath) +
      "\"><input type=\"hidden\" name=\"id\" value=\"" + id + "\"><input type=\"hidden\" name=\"csrf\" value=\"" +
      tokens_.TokenFor(authorization) +
      "\"><button type=\"submit\" name=\"to\" value=\"inbox\">Move to the Inbox</button> "
      "<button type=\"submit\" name=\"to\" value=\"junk\">This is spam</button></form><p class=\"muted\">As " +
      HtmlEscape(record.mailbox) + "'s own move" + (record.host == "dovecot" ? " through doveadm" : "") +
      ": the filter relearns the message and, for a release, whitelists its sender, as after the user's move. "
      "Recorded with your login name.</p>";
  std::vector<journal::AuditedAction> actions;
  try {
    if (journal::Journal* journal = source_.Journal()) actions = journal->ActionsOn(record.id);
  } catch (const std::exception& error) {
    return html + "<p>The actions taken so far cannot be read: " + HtmlEscape(error.what()) + "</p>";
  }
  if (actions.empty()) return html;
  html +=
      "<table id=\"actions\"><thead><tr><th>time (UTC)</th><th>who</th><th>action</th><th>outcome</th>"
      "<th>detail</th></tr></thead><tbody>";
  for (const journal::AuditedAction& action : actions) {
    html += "<tr><td>" + UtcText(action.time) + "</td><td>" + HtmlEscape(action.who) + "</td><td>" +
            HtmlEscape(action.action) + "</td><td>" + HtmlEscape(action.outcome) + "</td><td>" +
            HtmlEscape(action.detail) + "</td></tr>";
  }
  return html + "</tbody></table>";
}

HttpResponse ReleaseEndpoint::Handle(const HttpRequest& request) {
  if (!enabled_) {
    return Plain(403,
                 "moving messages from the dashboard needs a password: set [serve] password_hash in "
                 "varnolt.conf (`varnolt serve --hash-password` makes one)");
  }
  if (request.method != "POST") {
    HttpResponse refused = Plain(405, "an action is sent as a POST from the record's page");
    refused.headers.push_back({"Allow", "POST"});
    return refused;
  }
  const auto token = request.form.find("csrf");
  if (token == request.form.end() || !tokens_.Valid(request.authorization, token->second)) {
    return Plain(403, "the form's token is missing or not this login's: open the record's page again and repeat");
  }
  const std::optional<int64_t> id = FormId(request);
  const auto to = request.form.find("to");
  if (!id || to == request.form.end() || (to->second != "inbox" && to->second != "junk")) {
    return Plain(400, "give the record's number (id=N) and where to move it (to=inbox or to=junk)");
  }
  const MoveTarget target = to->second == "inbox" ? MoveTarget::kInbox : MoveTarget::kJunk;
  const std::optional<journal::VerdictRecord> record = source_.Find(*id);
  if (!record) return Plain(404, "no journal record " + std::to_string(*id));
  MoveOutcome outcome;
  if (record->message_id.empty()) {
    outcome = {"gone", "The message has no Message-ID, so it cannot be found in " + record->mailbox + "."};
  } else if (record->host == "dovecot") {
    outcome = MoveWithDoveadm(doveadm_, *record, target, JunkFolderNames(session_));
  } else {
    outcome = MoveInStore(session_, *record, target);
  }
  Record(*record, target, WhoOf(request.authorization), outcome);
  return ResultPage(StatusOf(outcome.outcome), record->id, outcome.message);
}

void ReleaseEndpoint::Record(const journal::VerdictRecord& record, MoveTarget target, const std::string& who,
                             MoveOutcome& outcome) {
  const std::string line = "varnolt serve: " + who + " moved record " + std::to_string(record.id) + " (" +
                           OneLine(record.mailbox) + ", Message-ID <" + OneLine(record.message_id) + ">) " +
                           TargetWords(target) + ": " + outcome.outcome + " - " + OneLine(outcome.message);
  std::cerr << line << std::endl;
  try {
    journal::Journal* journal = source_.Journal();
    if (!journal) throw std::runtime_error("the journal is gone");
    journal->RecordAction(
        {hosting::NowSeconds(), who, record.id, MoveTargetName(target), outcome.outcome, outcome.message});
  } catch (const std::exception& error) {
    std::cerr << "varnolt serve: warning: the action was not recorded in the journal: " << error.what() << std::endl;
    outcome.message += " (The journal could not record this action: " + std::string(error.what()) + ")";
  }
  try {
    const std::string folder = session_.DataFolder();
    if (!folder.empty()) AppendLogLine(session_.GetPlatform(), folder, line);
  } catch (const std::exception& error) {
    std::cerr << "varnolt serve: warning: the action is not in the filter's log: " << error.what() << std::endl;
  }
}

}  // namespace varnolt::dashboard
