#include "varnolt/message_input.h"

#include "backends/mailstore/message_properties.h"
#include "backends/mailstore/raw_headers.h"
#include "platform/names/message_body.h"

namespace varnolt::cli {

EngineInput EngineInputOf(const std::string& message) {
  // As delivery keeps it: no envelope line, no X-Varnolt line of the sender's.
  std::string edited;
  mailstore::MessageTexts texts = mailstore::DeriveMessageTexts(mailstore::DeliveredView(message, &edited));
  EngineInput input;
  input.header = std::move(texts.header_block);
  input.body = EngineBodyText(std::move(texts.html_body).value_or(""),
                              [&] { return std::move(texts.plain_body).value_or(""); });
  return input;
}

}  // namespace varnolt::cli
