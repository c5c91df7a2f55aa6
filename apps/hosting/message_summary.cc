#include "hosting/message_summary.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "engine/encoded_words.h"

namespace varnolt::cli {
namespace {

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

bool NameIs(std::string_view field, std::string_view name) {
  if (field.size() != name.size()) return false;
  return std::equal(field.begin(), field.end(), name.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

// The address's domain: after the last '@' of the bracketed address, else of the whole value.
std::string DomainOf(const std::string& from) {
  std::string address = from;
  const size_t open = from.rfind('<');
  if (open != std::string::npos) {
    const size_t close = from.find('>', open);
    address = from.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  }
  const size_t at = address.rfind('@');
  if (at == std::string::npos) return "";
  std::string domain;
  for (char c : address.substr(at + 1)) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '>' || c == ')' || c == ',') break;
    domain += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return domain;
}

}  // namespace

MessageSummary SummarizeMessage(std::string_view message, bool with_subject) {
  MessageSummary summary;
  std::string from, subject;
  bool have_id = false, have_from = false, have_subject = false;
  std::string field, value;
  auto finish = [&] {
    if (field.empty()) return;
    if (!have_id && NameIs(field, "Message-ID")) {
      have_id = true;
      std::string id = Trim(value);
      if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
      summary.message_id = id;
    } else if (!have_from && NameIs(field, "From")) {
      have_from = true;
      from = value;
    } else if (!have_subject && NameIs(field, "Subject")) {
      have_subject = true;
      subject = value;
    }
    field.clear();
  };
  size_t pos = 0;
  while (pos < message.size()) {
    size_t end = message.find('\n', pos);
    if (end == std::string_view::npos) end = message.size();
    std::string_view line = message.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // the end of the header block
    if (line.front() == ' ' || line.front() == '\t') {
      if (!field.empty()) value += std::string(line);  // a folded line continues the field
      continue;
    }
    finish();
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    field = std::string(line.substr(0, colon));
    value = std::string(line.substr(colon + 1));
  }
  finish();
  summary.sender_domain = DomainOf(from);
  if (!with_subject) return summary;
  try {
    std::vector<std::string> charsets;
    summary.subject = Trim(engine::DecodeEncodedWords(Trim(subject), &charsets));
  } catch (...) {
    summary.subject = Trim(subject);
  }
  return summary;
}

}  // namespace varnolt::cli
