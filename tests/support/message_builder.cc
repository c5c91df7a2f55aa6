#include "support/message_builder.h"

namespace varnolt::testing {
namespace {

constexpr const char* kBoundary = "=-=boundary-=-";

void AppendPartHeaders(const MimePart& part, std::string* out) {
  *out += "Content-Type: " + part.content_type + "\r\n";
  if (!part.transfer_encoding.empty()) *out += "Content-Transfer-Encoding: " + part.transfer_encoding + "\r\n";
  if (!part.disposition.empty()) *out += "Content-Disposition: " + part.disposition + "\r\n";
}

}  // namespace

MessageBuilder::MessageBuilder() {
  headers_ = {{"From", "Bob Sender <bob@example.org>"},
              {"To", "Alice <alice@example.com>"},
              {"Subject", "Hello"},
              {"Date", "Mon, 07 Dec 2026 09:00:00 +0000"},
              {"Message-ID", "<test-1@example.org>"},
              {"MIME-Version", "1.0"}};
  single_.body = "Hello Alice,\r\nsee you tomorrow.\r\n";
}

MessageBuilder& MessageBuilder::Header(const std::string& name, const std::string& value) {
  for (auto& header : headers_) {
    if (header.first == name) {
      header.second = value;
      return *this;
    }
  }
  headers_.emplace_back(name, value);
  return *this;
}

MessageBuilder& MessageBuilder::Body(const std::string& body, const std::string& content_type,
                                     const std::string& transfer_encoding) {
  single_ = MimePart{content_type, transfer_encoding, "", body};
  return *this;
}

MessageBuilder& MessageBuilder::Multipart(const std::string& subtype) {
  multipart_ = subtype;
  return *this;
}

MessageBuilder& MessageBuilder::AddPart(const MimePart& part) {
  parts_.push_back(part);
  return *this;
}

std::string MessageBuilder::Build() const {
  std::string out;
  for (const auto& [name, value] : headers_) out += name + ": " + value + "\r\n";
  if (multipart_.empty()) {
    AppendPartHeaders(single_, &out);
    return out + "\r\n" + single_.body;
  }
  out += "Content-Type: multipart/" + multipart_ + "; boundary=\"" + kBoundary + "\"\r\n\r\n";
  out += "This is a multi-part message in MIME format.\r\n";
  for (const MimePart& part : parts_) {
    out += std::string("\r\n--") + kBoundary + "\r\n";
    AppendPartHeaders(part, &out);
    out += "\r\n" + part.body;
  }
  return out + "\r\n--" + kBoundary + "--\r\n";
}

}  // namespace varnolt::testing
