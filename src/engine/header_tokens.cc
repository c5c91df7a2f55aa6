#include "engine/header_tokens.h"

#include <algorithm>
#include <string>
#include <vector>

#include "backends/mailstore/raw_headers.h"
#include "engine/encoded_words.h"

namespace varnolt::engine {
namespace {

struct Field {
  std::string name;  // lower case
  std::string value;  // unfolded
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The fields "Name: value" of the section, their continuation lines joined
// by one blank. A line that is no such field (the mbox "From " line, a name
// with a blank) is skipped, and its continuation lines join the field before.
std::vector<Field> ParseFields(std::string_view header) {
  std::vector<Field> fields;
  mailstore::ForEachSectionField(header, [&](const mailstore::SectionField& section_field) {
    const std::vector<std::string_view> lines = mailstore::FieldLines(section_field);
    const std::string_view first = lines.front();
    const size_t colon = first.find(':');
    if (!IsBlank(first.front()) && colon != std::string_view::npos && colon != 0 &&
        first.substr(0, colon).find(' ') == std::string_view::npos) {
      std::string_view value = first.substr(colon + 1);
      while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
      fields.push_back({FoldCase(first.substr(0, std::min<size_t>(colon, 40))), std::string(value)});
    }
    for (size_t i = IsBlank(first.front()) ? 0 : 1; i < lines.size(); ++i) {
      // A continuation of blanks only adds nothing.
      const size_t text = lines[i].find_first_not_of(" \t");
      if (!fields.empty() && text != std::string_view::npos) fields.back().value.append(" ").append(lines[i].substr(text));
    }
  });
  return fields;
}

// The address of "Name <user@host>" or of a bare "user@host".
std::string_view AddressOf(std::string_view value) {
  const size_t lt = value.rfind('<');
  if (lt != std::string_view::npos) {
    const size_t gt = value.find('>', lt);
    return value.substr(lt + 1, (gt == std::string_view::npos ? value.size() : gt) - lt - 1);
  }
  const size_t at = value.find('@');
  if (at == std::string_view::npos) return {};
  const size_t start = value.find_last_of(" \t,;(\"", at);
  const size_t end = value.find_first_of(" \t,;)\"", at);
  const size_t from = start == std::string_view::npos ? 0 : start + 1;
  return value.substr(from, (end == std::string_view::npos ? value.size() : end) - from);
}

std::string_view DomainOf(std::string_view address) {
  const size_t at = address.rfind('@');
  return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

// "----=_NextPart_000_0012" -> "-=a_9_9": the generator's fingerprint without its random part.
std::string Shape(std::string_view text) {
  std::string shape;
  for (char c : text) {
    const char k = (c >= '0' && c <= '9') ? '9' : ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ? 'a' : c;
    if (shape.empty() || shape.back() != k) shape.push_back(k);
    if (shape.size() >= 20) break;
  }
  return shape;
}

std::string_view Parameter(std::string_view lower_value, std::string_view name) {
  const size_t at = lower_value.find(name);
  if (at == std::string_view::npos) return {};
  std::string_view rest = lower_value.substr(at + name.size());
  if (!rest.empty() && rest.front() == '"') rest.remove_prefix(1);
  return rest.substr(0, rest.find_first_of("\"; \t"));
}

void AddReceived(std::string_view value, TokenSink& sink) {
  std::string lower = FoldCase(value);
  std::replace_if(lower.begin(), lower.end(), [](char c) { return std::string_view("()[];,<>=").find(c) != std::string_view::npos; }, ' ');
  std::string_view rest = lower;
  std::string_view previous;
  while (!rest.empty()) {
    const size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const std::string_view piece = rest.substr(0, rest.find_first_of(" \t"));
    rest.remove_prefix(piece.size());
    if (previous == "with") sink.Add("rcvd:with:", piece.substr(0, 20));
    previous = piece;
    const bool hostlike = piece.find('.') != std::string_view::npos && piece.find('@') == std::string_view::npos &&
                          std::any_of(piece.begin(), piece.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (IsIpAddress(piece) || (hostlike && piece.find_first_of(":/") == std::string_view::npos)) {
      AddHost(piece, "rcvd:", sink);
    }
  }
}

void AddField(const Field& field, const WordLimits& limits, TokenSink& sink) {
  const std::string& name = field.name;
  const std::string& value = field.value;
  if (name == "subject" || name == "from" || name == "to" || name == "cc" || name == "reply-to") {
    std::vector<std::string> charsets;
    const std::string decoded = DecodeEncodedWords(value, &charsets);
    const std::string tag = (name == "subject" ? "subj" : name) + ":";
    for (const std::string& charset : charsets) sink.Add(tag + "charset:", charset);
    AddWords(decoded, tag, limits, sink);
    if (name == "subject") {
      if (decoded.find('!') != std::string::npos) sink.Add(tag, "!");
      const auto upper = std::count_if(decoded.begin(), decoded.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
      const auto lower = std::count_if(decoded.begin(), decoded.end(), [](char c) { return c >= 'a' && c <= 'z'; });
      if (upper > 3 && upper > 2 * lower) sink.Add(tag, "shouting");
      AddUrlHosts(decoded, sink);
    } else {
      AddHost(DomainOf(AddressOf(decoded)), tag + "domain:", sink);
      const auto addresses = std::count(decoded.begin(), decoded.end(), '@');
      if (name != "from") sink.Add(tag + "count:", std::to_string(std::min<long>(addresses, 10)));
    }
  } else if (name == "return-path" || name == "sender" || name == "errors-to") {
    const std::string_view domain = DomainOf(AddressOf(value));
    if (domain.empty()) sink.Add(name + ":", "nodomain");
    AddHost(domain, name + ":domain:", sink);
  } else if (name == "received") {
    AddReceived(value, sink);
  } else if (name == "content-type") {
    const std::string lower = FoldCase(value);
    sink.Add("ct:", lower.substr(0, std::min(lower.find_first_of("; \t"), size_t{40})));
    const std::string_view charset = Parameter(lower, "charset=");
    if (!charset.empty()) sink.Add("ct:charset:", charset.substr(0, 30));
    const std::string_view boundary = Parameter(value, "boundary=");
    if (!boundary.empty()) sink.Add("ct:boundary:", Shape(boundary));
  } else if (name == "content-transfer-encoding") {
    sink.Add("cte:", FoldCase(value.substr(0, 30)));
  } else if (name == "message-id") {
    const size_t at = value.rfind('@');
    if (at == std::string::npos) {
      sink.Add("mid:", "nodomain");
    } else {
      const std::string_view after = std::string_view(value).substr(at + 1);
      AddHost(after.substr(0, after.find_first_of("> \t")), "mid:", sink);
    }
    sink.Add("mid:shape:", Shape(value.substr(0, value.find('@'))));
  } else if (name == "x-mailer" || name == "user-agent" || name == "x-mimeole" || name == "x-newsreader") {
    AddWords(value, "mailer:", limits, sink);
    sink.Add("mailer:shape:", Shape(value));
  } else if (name == "date") {
    const size_t blank = value.find_last_of(' ');
    const std::string_view zone = std::string_view(value).substr(blank == std::string::npos ? 0 : blank + 1);
    sink.Add("date:zone:", zone.substr(0, 6));
  } else if (name == "x-priority" || name == "x-msmail-priority" || name == "importance" || name == "precedence" ||
             name == "list-id" || name == "organization" || name == "mime-version") {
    AddWords(value.substr(0, 200), name + ":", limits, sink);
  }
  // Other fields (X- tags of list servers and bulk senders, IDs, dates) count only
  // by their name: their words were mostly one-off noise that made legitimate
  // newsletters look like the spam that carries the same tags.
}

}  // namespace

void AddHeaderTokens(std::string_view header, const WordLimits& limits, TokenSink& sink) {
  const std::vector<Field> fields = ParseFields(header);
  int received = 0;
  for (const Field& field : fields) {
    if (sink.full()) return;
    sink.Add("hdr:", field.name);
    // The top hops come from servers nearer to us and can be trusted most; deep chains add noise.
    if (field.name == "received" && ++received > 8) continue;
    AddField(field, limits, sink);
  }
  sink.Add("rcvd:count:", std::to_string(std::min(received, 10)));
}

}  // namespace varnolt::engine
