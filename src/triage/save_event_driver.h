// The body of the save event: sorts the event by its flags, reads the settings,
// and hands the item to the new-mail or user-move handling. Never throws.
#pragma once

#include <cstdint>
#include <string>

namespace varnolt {

struct TriageEnvironment;
class IUnknown;

// Flags other than the five handled values cost one tick-count read and
// nothing else. Every failure that no called operation handled ends the
// event with one "Varnolt Extension failed: " report (source: the item's URL,
// empty before the item record was taken); what was written before stays.
// Whatever the end, the event's SaveVerdict goes to the platform last
// (Platform::TakeVerdict), ignored flags included.
void RunSaveEvent(TriageEnvironment& env, IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags);

}  // namespace varnolt
