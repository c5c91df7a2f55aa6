// Internet messages for tests, with defaults for everything not asked for:
// MessageBuilder().Subject("Hi").Body("text").Build(). Lines end in CR LF.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace varnolt::testing {

struct MimePart {
  std::string content_type = "text/plain; charset=us-ascii";
  std::string transfer_encoding;  // none when empty
  std::string disposition;        // none when empty
  std::string body;               // as it appears in the message (already encoded)
};

class MessageBuilder {
 public:
  MessageBuilder();

  // Sets a header (replacing an earlier one of that name) or adds it at the end.
  MessageBuilder& Header(const std::string& name, const std::string& value);
  MessageBuilder& From(const std::string& value) { return Header("From", value); }
  MessageBuilder& Subject(const std::string& value) { return Header("Subject", value); }
  // The single body part (text/plain by default).
  MessageBuilder& Body(const std::string& body, const std::string& content_type = "text/plain; charset=us-ascii",
                       const std::string& transfer_encoding = "");
  // Makes the message multipart/<subtype> (boundary "=-=boundary-=-") of the parts added.
  MessageBuilder& Multipart(const std::string& subtype);
  MessageBuilder& AddPart(const MimePart& part);

  std::string Build() const;

 private:
  std::vector<std::pair<std::string, std::string>> headers_;
  MimePart single_;
  std::string multipart_;  // subtype; empty for a single part
  std::vector<MimePart> parts_;
};

}  // namespace varnolt::testing
