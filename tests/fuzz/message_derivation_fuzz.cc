// Message derivation as the store and the plugin run it on every saved
// message: envelope and X-Varnolt removal, header block, MIME structure,
// charsets, encoded words, plain and HTML bodies, the Date header.
#include "backends/mailstore/message_properties.h"
#include "backends/mailstore/raw_headers.h"
#include "fuzz/fuzz_support.h"

using namespace varnolt::mailstore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view message = varnolt::fuzz::AsText(data, size);
  const std::string content = DeliveredContent(message);
  const PropertyList properties = DeriveMessageProperties(content, /*outside=*/true);
  for (const auto& [name, value] : properties) {
    if (name == std::string(kMailHeaderPrefix) + "date") MailDateSeconds(value.AsText());
  }
  // Every header line the derivation read lies inside the block it measured.
  const size_t block = HeaderBlockLength(content);
  for (const RawHeader& header : ParseHeaderBlock(std::string_view(content).substr(0, block))) {
    if (header.name.size() + header.value.size() >= block + 1) __builtin_trap();
  }
  RemoveHeaderLines(message, "Subject");
  return 0;
}
