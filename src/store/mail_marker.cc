#include "store/mail_marker.h"

#include "platform/com/com_error.h"
#include "store/record_source.h"

namespace varnolt {

int32_t GetMailMarker(IExchangeFilter& filter, Record& record) {
  try {
    if (record.GetFields().Item(kMailMarkerField)->Status() == kFieldDoesNotExist) return kMarkerNone;
    return record.GetFields().Item(kMailMarkerField)->Value().ToInt32();
  } catch (const ComError& error) {
    filter.Log_Err("MailMarker (Get) failed: " + error.description(), error.number(), SourceForReport(record));
    return kMarkerNone;
  }
}

void SetMailMarker(IExchangeFilter& filter, Record& record, int32_t value) {
  try {
    Fields& fields = record.GetFields();
    fields.Item(kMailMarkerField)->SetValue(Variant::Int32(value));
    fields.Update();
  } catch (const ComError& error) {
    filter.Log_Err("MailMarker (Set) failed: " + error.description(), error.number(), SourceForReport(record));
  }
}

}  // namespace varnolt
