#include "trust/message_readers.h"

#include "platform/com/com_error.h"
#include "platform/names/message_body.h"
#include "store/property_names.h"

namespace varnolt {
namespace {

// One MAPI property as text; any failure reads as empty text.
std::string ReadMapiText(Record& record, const char* tag) {
  try {
    return record.GetFields().Item(MapiField(tag))->Value().ToText();
  } catch (const ComError&) {
    return "";
  }
}

// The pieces of text cut at every separator, empty pieces kept. An empty text
// has no pieces at all, which is what makes "<" at the very end a failure.
std::string Piece(const std::string& text, char separator, size_t index) {
  if (text.empty()) throw RuntimeError(kSubscriptOutOfRange);
  size_t begin = 0;
  for (size_t i = 0; i < index; ++i) {
    const size_t at = text.find(separator, begin);
    if (at == std::string::npos) throw RuntimeError(kSubscriptOutOfRange);
    begin = at + 1;
  }
  const size_t end = text.find(separator, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

bool HasControlCharacter(const std::string& text) {
  for (const unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::string GetSenderAddress(Reporter& reporter, Record& record) {
  try {
    const std::string from = record.GetFields().Item(kFromField)->Value().ToText();
    if (from.empty()) return "";
    const std::string address = Piece(Piece(from, '<', 1), '>', 0);
    // A line break decoded from an encoded word would turn one rescued sender
    // into several whitelist lines: such a text is no address.
    if (HasControlCharacter(address)) throw RuntimeError(kInvalidProcedureCall);
    return address;
  } catch (const ComError& e) {
    reporter.LogError("GetSenderAddress failed: " + e.description(), e.number(), SourceForReport(record));
    return "";
  }
}

std::string GetSenderAddrType(Record& record) { return ReadMapiText(record, "x0C1E001E"); }
std::string GetTransportHeaders(Record& record) { return ReadMapiText(record, "x007D001E"); }
std::string GetPlainBody(Record& record) { return ReadMapiText(record, "x1000001E"); }
std::string GetHtmlBody(Record& record) {
  // Most mail has no HTML body: asking first spares the exception a missing
  // property throws, which in a mail server's process is costly.
  try {
    const std::shared_ptr<Field> field = record.GetFields().Item(MapiField("x1013001E"));
    return field->Status() == kFieldOK ? field->Value().ToText() : "";
  } catch (const ComError&) {
    return "";
  }
}

std::string GetBodyText(Record& record) {
  return EngineBodyText(GetHtmlBody(record), [&] { return GetPlainBody(record); });
}

}  // namespace varnolt
