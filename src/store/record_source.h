// The record's URL for the source of an error report.
#pragma once

#include <string>

#include "store/record.h"

namespace varnolt {

// record.Source(), or "" when even that fails: an error report must not fail itself.
std::string SourceForReport(Record& record);

}  // namespace varnolt
