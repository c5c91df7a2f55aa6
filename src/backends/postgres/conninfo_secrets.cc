#include "backends/postgres/conninfo_secrets.h"

#include <libpq-fe.h>

#include <memory>

namespace varnolt::postgres {
namespace {

constexpr const char* kHidden = "***";

struct ParsedOptions {
  std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options{nullptr, PQconninfoFree};
  std::string error;  // libpq's complaint when the string cannot be read
};

ParsedOptions Parse(const std::string& conninfo) {
  ParsedOptions parsed;
  char* error = nullptr;
  parsed.options.reset(PQconninfoParse(conninfo.c_str(), &error));
  if (!parsed.options) parsed.error = error != nullptr ? error : "out of memory";
  if (error != nullptr) PQfreemem(error);
  while (!parsed.error.empty() && (parsed.error.back() == '\n' || parsed.error.back() == ' ')) {
    parsed.error.pop_back();
  }
  return parsed;
}

std::string PasswordOf(const ParsedOptions& parsed) {
  if (!parsed.options) return "";
  for (const PQconninfoOption* option = parsed.options.get(); option->keyword != nullptr; ++option) {
    if (std::string(option->keyword) == "password" && option->val != nullptr) return option->val;
  }
  return "";
}

void ReplaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
    text.replace(at, secret.size(), kHidden);
  }
}

}  // namespace

bool HoldsPassword(const std::string& conninfo) {
  const ParsedOptions parsed = Parse(conninfo);
  return !parsed.options || !PasswordOf(parsed).empty();
}

std::string MalformedConnectionString(const std::string& conninfo) {
  const ParsedOptions parsed = Parse(conninfo);
  if (parsed.options) return "";
  // Which piece is the password cannot be told in a string that does not
  // parse, so every quoted piece of the string goes; a lone character (the
  // "=" libpq missed) stays, so that the complaint still reads.
  std::string message;
  const std::string& error = parsed.error;
  size_t at = 0;
  while (at < error.size()) {
    const size_t open = error.find('"', at);
    const size_t close = open == std::string::npos ? std::string::npos : error.find('"', open + 1);
    if (close == std::string::npos) {
      message += error.substr(at);
      break;
    }
    const std::string piece = error.substr(open + 1, close - open - 1);
    const bool quoted_from_string = piece.size() > 1 && conninfo.find(piece) != std::string::npos;
    message += error.substr(at, open + 1 - at) + (quoted_from_string ? kHidden : piece) + "\"";
    at = close + 1;
  }
  ReplaceAll(message, conninfo);  // a piece libpq gave without quotes
  return message.empty() ? "it cannot be read" : message;
}

std::string WithoutPassword(std::string message, const std::string& conninfo) {
  ReplaceAll(message, PasswordOf(Parse(conninfo)));
  return message;
}

}  // namespace varnolt::postgres
