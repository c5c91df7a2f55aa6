#include "store/mail_marker.h"

#include "platform/com/com_error.h"

namespace varnolt {

int32_t GetMailMarker(Reporter& reporter, Record& record) {
  try {
    if (record.GetFields().Item(kMailMarkerField)->Status() == kFieldDoesNotExist) return kMarkerNone;
    return record.GetFields().Item(kMailMarkerField)->Value().ToInt32();
  } catch (const ComError& error) {
    reporter.LogError("MailMarker (Get) failed: " + error.description(), error.number(), SourceForReport(record));
    return kMarkerNone;
  }
}

bool SetMailMarker(Reporter& reporter, Record& record, int32_t value) {
  try {
    Fields& fields = record.GetFields();
    fields.Item(kMailMarkerField)->SetValue(Variant::Int32(value));
    fields.Update();
    return true;
  } catch (const ComError& error) {
    reporter.LogError("MailMarker (Set) failed: " + error.description(), error.number(), SourceForReport(record));
    return false;
  }
}

}  // namespace varnolt
