// The body of the save event: sorts the event by its flags, reads the settings,
// and hands the item to the new-mail or user-move handling. Never throws.
#pragma once

#include <cstdint>
#include <string>

namespace varnolt {

class ExchangeFilter;
class IUnknown;

void RunSaveEvent(ExchangeFilter& filter, IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags);

}  // namespace varnolt
