#include "dashboard/verdict_filter.h"

#include <cstdio>
#include <ctime>

#include "dashboard/svg_plot.h"

namespace varnolt::dashboard {
namespace {

constexpr size_t kMaxParameterBytes = 1000;

bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Seconds since the epoch; end: a day given alone means its end.
std::optional<int64_t> ParseTime(const std::string& text, bool end) {
  if (AllDigits(text)) return std::stoll(text);
  std::tm tm{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  char tail = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d%c", &year, &month, &day, &hour, &minute, &tail);
  if ((fields != 3 && fields != 5) || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      text.size() != (fields == 3 ? 10u : 16u)) {
    return std::nullopt;
  }
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  const int64_t seconds = timegm(&tm);
  return fields == 3 && end ? seconds + 86400 : seconds;
}

std::optional<double> ParseScore(const std::string& text) {
  double value = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%lf%c", &value, &tail) != 1 || !(value >= 0 && value <= 1)) return std::nullopt;
  return value;
}

std::string ShortScore(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

std::string UrlEscape(const std::string& text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

ParsedFilters ParseFilters(const std::map<std::string, std::string>& parameters, int default_limit, int max_limit) {
  ParsedFilters parsed;
  journal::VerdictQuery& query = parsed.query;
  query.limit = default_limit;
  auto fail = [&parsed](const std::string& why) {
    parsed.error = why;
    return parsed;
  };
  for (const auto& [name, value] : parameters) {
    if (value.empty()) continue;
    if (value.size() > kMaxParameterBytes) return fail(name + " is too long");
    if (name == "from" || name == "to") {
      const std::optional<int64_t> time = ParseTime(value, name == "to");
      if (!time) return fail(name + " is a time: seconds since the epoch, YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)");
      (name == "from" ? query.from : query.to) = time;
    } else if (name == "mailbox") {
      query.mailbox = value;
    } else if (name == "domain") {
      query.domain = value;
    } else if (name == "subject") {
      query.subject = value;
    } else if (name == "server") {
      query.server = value;
    } else if (name == "sender") {
      query.sender = value;
    } else if (name == "sender_domain") {
      query.sender_domain = value;
    } else if (name == "message_id") {
      // As the "why?" page shows it, or with the header's angle brackets.
      query.message_id = value.size() > 2 && value.front() == '<' && value.back() == '>'
                             ? value.substr(1, value.size() - 2)
                             : value;
    } else if (name == "verdict") {
      if (value != "ham" && value != "spam" && value != "none") return fail("verdict is ham, spam or none");
      query.verdict = value;
    } else if (name == "action") {
      if (value != "filed" && value != "hidden" && value != "left" && value != "removed") {
        return fail("action is filed, hidden, left or removed");
      }
      query.action = value;
    } else if (name == "min_score" || name == "max_score") {
      const std::optional<double> score = ParseScore(value);
      if (!score) return fail(name + " is a number from 0 to 1");
      (name == "min_score" ? query.min_score : query.max_score) = score;
    } else if (name == "corrected") {
      if (value != "yes" && value != "no") return fail("corrected is yes or no");
      query.corrected = value == "yes";
    } else if (name == "before") {
      if (!AllDigits(value)) return fail("before is a record's number");
      query.before_id = std::stoll(value);
    } else if (name == "limit") {
      if (!AllDigits(value)) return fail("limit is a number from 1 to " + std::to_string(max_limit));
      query.limit = static_cast<int>(std::min<int64_t>(std::max<int64_t>(std::stoll(value), 1), max_limit));
    }
  }
  return parsed;
}

std::string FilterParameters(const journal::VerdictQuery& query) {
  std::string out;
  auto add = [&out](const char* name, const std::string& value) {
    if (!value.empty()) out += std::string("&amp;") + name + "=" + HtmlEscape(UrlEscape(value));
  };
  if (query.from) add("from", std::to_string(*query.from));
  if (query.to) add("to", std::to_string(*query.to));
  add("mailbox", query.mailbox);
  add("domain", query.domain);
  add("subject", query.subject);
  add("sender", query.sender);
  add("sender_domain", query.sender_domain);
  add("message_id", query.message_id);
  add("server", query.server);
  add("verdict", query.verdict);
  add("action", query.action);
  if (query.min_score) add("min_score", ShortScore(*query.min_score));
  if (query.max_score) add("max_score", ShortScore(*query.max_score));
  if (query.corrected) add("corrected", *query.corrected ? "yes" : "no");
  return out;
}

}  // namespace varnolt::dashboard
