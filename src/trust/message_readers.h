// Read-only views of the message being saved: sender, address type, transport
// headers and bodies. Empty text is the only "not available" answer; none of
// them lets a failure reach the caller.
#pragma once

#include <string>

#include "diagnostics/reporter.h"
#include "store/record.h"

namespace varnolt {

// True when the text holds a control character (below 0x20, or 0x7F).
bool HasControlCharacter(const std::string& text);

// The address inside the first "<...>" of the From header. Empty text without a
// report when the header is empty (or the brackets are); empty text with one
// "GetSenderAddress failed: " report when the header is missing, has no
// usable "<", or the text found holds a control character (error 5).
std::string GetSenderAddress(Reporter& reporter, Record& record);

// The sender's address type (x0C1E001E), e.g. "EX" or "SMTP"; silent.
std::string GetSenderAddrType(Record& record);
// The transport headers as received (x007D001E); empty for mail submitted inside; silent.
std::string GetTransportHeaders(Record& record);
// The plain body (x1000001E); silent.
std::string GetPlainBody(Record& record);
// The HTML body (x1013001E); silent.
std::string GetHtmlBody(Record& record);
// The HTML body when there is one, else the plain body: what the spam engine reads.
std::string GetBodyText(Record& record);

}  // namespace varnolt
