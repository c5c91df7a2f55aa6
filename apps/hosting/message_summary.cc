#include "hosting/message_summary.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "backends/mailstore/raw_headers.h"
#include "engine/encoded_words.h"

namespace varnolt::hosting {
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

bool EndsAddress(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '>' || c == ')' || c == ','; }

// The address in lower case: the bracketed one, else the word around the
// last '@' of the whole value; "" without an '@'.
std::string AddressOf(const std::string& from) {
  std::string address = from;
  const size_t open = from.rfind('<');
  if (open != std::string::npos) {
    const size_t close = from.find('>', open);
    address = from.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  }
  const size_t at = address.rfind('@');
  if (at == std::string::npos) return "";
  size_t begin = at, end = at + 1;
  while (begin > 0 && !EndsAddress(address[begin - 1]) && address[begin - 1] != '<' && address[begin - 1] != '(') --begin;
  while (end < address.size() && !EndsAddress(address[end])) ++end;
  std::string lower;
  for (size_t i = begin; i < end; ++i) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(address[i])));
  return lower;
}

}  // namespace

MessageSummary SummarizeMessage(std::string_view message, bool with_subject) {
  MessageSummary summary;
  std::string from, subject;
  bool have_id = false, have_from = false, have_subject = false;
  // The header block as the store reads it at delivery.
  for (const mailstore::RawHeader& header : mailstore::ParseHeaderBlock(message)) {
    if (!have_id && NameIs(header.name, "Message-ID")) {
      have_id = true;
      std::string id = mailstore::UnfoldValue(header.value);
      if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
      summary.message_id = id;
    } else if (!have_from && NameIs(header.name, "From")) {
      have_from = true;
      from = mailstore::UnfoldValue(header.value);
    } else if (!have_subject && NameIs(header.name, "Subject")) {
      have_subject = true;
      subject = mailstore::UnfoldValue(header.value);
    }
  }
  summary.sender = AddressOf(from);
  summary.sender_domain = summary.sender.substr(summary.sender.rfind('@') + 1);
  if (!with_subject) return summary;
  try {
    std::vector<std::string> charsets;
    summary.subject = Trim(engine::DecodeEncodedWords(Trim(subject), &charsets));
  } catch (...) {
    summary.subject = Trim(subject);
  }
  return summary;
}

}  // namespace varnolt::hosting
