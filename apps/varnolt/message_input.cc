#include "varnolt/message_input.h"

#include "platform/mailstore/message_properties.h"
#include "platform/mailstore/raw_headers.h"

namespace varnolt::cli {

EngineInput EngineInputOf(const std::string& message) {
  // As delivery keeps it: no envelope line, no X-Varnolt line of the sender's.
  std::string edited;
  mailstore::MessageTexts texts = mailstore::DeriveMessageTexts(mailstore::DeliveredView(message, &edited));
  EngineInput input;
  input.header = std::move(texts.header_block);
  // As the filter reads the body: the HTML one unless it is missing or empty.
  if (texts.html_body && !texts.html_body->empty()) {
    input.body = std::move(*texts.html_body);
  } else if (texts.plain_body) {
    input.body = std::move(*texts.plain_body);
  }
  return input;
}

}  // namespace varnolt::cli
