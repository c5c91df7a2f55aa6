#include "store/record_source.h"

#include "platform/com/com_error.h"

namespace varnolt {

std::string SourceForReport(Record& record) {
  try {
    return record.Source();
  } catch (const ComError&) {
    return "";
  }
}

}  // namespace varnolt
