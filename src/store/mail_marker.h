// The verdict stamped on a message: "urn:schemas:mailheader:X-Varnolt", 1 HAM, 2 SPAM, 0 none.
#pragma once

#include <cstdint>

#include "diagnostics/reporter.h"
#include "store/property_names.h"
#include "store/record.h"

namespace varnolt {

constexpr int32_t kMarkerNone = 0;
constexpr int32_t kMarkerHam = 1;
constexpr int32_t kMarkerSpam = 2;

// The marker; 0 when the item has none. A failure (such as a text that is no
// number) is reported as "MailMarker (Get) failed: " and reads as 0.
int32_t GetMailMarker(Reporter& reporter, Record& record);

// Writes the marker as a 32-bit integer and commits every staged field of the
// record; true when it was written. A failure is reported as
// "MailMarker (Set) failed: " and answers false, never raised.
bool SetMailMarker(Reporter& reporter, Record& record, int32_t value);

}  // namespace varnolt
