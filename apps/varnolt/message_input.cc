#include "varnolt/message_input.h"

#include "platform/mailstore/message_properties.h"
#include "platform/mailstore/raw_headers.h"
#include "platform/mailstore/store_names.h"
#include "store/property_names.h"

namespace varnolt::cli {
namespace {

std::string Key(const char* tag) { return mailstore::LowerKey(MapiField(tag)); }

}  // namespace

EngineInput EngineInputOf(const std::string& message) {
  const std::string header_key = Key("x007D001E");
  const std::string html_key = Key("x1013001E");
  const std::string plain_key = Key("x1000001E");
  EngineInput input;
  std::string html;
  std::string plain;
  const std::string content = mailstore::DeliveredContent(message);
  for (const auto& [name, value] : mailstore::DeriveMessageProperties(content, /*outside=*/true)) {
    const std::string key = mailstore::LowerKey(name);
    if (key == header_key) input.header = value.ToText();
    if (key == html_key) html = value.ToText();
    if (key == plain_key) plain = value.ToText();
  }
  input.body = html.empty() ? plain : html;
  return input;
}

}  // namespace varnolt::cli
