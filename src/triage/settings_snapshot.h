// The six settings as one save event sees them.
#pragma once

namespace varnolt {

class ExchangeFilter;
struct ItemContext;

// Reads DebugLevel, HideSpam, ProviderMode, UseJunkMailFolder, UseWhiteList and
// AutoWhiteList in this order through the filter's GetSharedProp. DebugLevel is
// stored on the filter before the next read, so the later reads (and what they
// log) already run under the new level. A failed status or a text that is no
// number throws ComError.
void ReadSettingsSnapshot(ExchangeFilter& filter, ItemContext& ctx);

}  // namespace varnolt
