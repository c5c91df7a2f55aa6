#include "triage/save_event_driver.h"

namespace varnolt {

// Accepts every event until the triage is in place.
void RunSaveEvent(ExchangeFilter&, IUnknown*, const std::string&, int32_t) {}

}  // namespace varnolt
