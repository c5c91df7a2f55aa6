#include "triage/settings_snapshot.h"

#include "host/exchange_filter.h"
#include "platform/com/com_error.h"
#include "triage/item_context.h"

namespace varnolt {
namespace {

Variant ReadSetting(ExchangeFilter& filter, const char* name) {
  IExchangeFilter& self = filter;
  Variant value;
  ThrowIfFailed(self.GetSharedProp(name, &value));
  return value;
}

}  // namespace

void ReadSettingsSnapshot(ExchangeFilter& filter, ItemContext& ctx) {
  filter.SetDebugLevel(ReadSetting(filter, "DebugLevel").ToInt32());
  ctx.hide_spam = ReadSetting(filter, "HideSpam").ToInt32();
  ctx.provider_mode = ReadSetting(filter, "ProviderMode").ToInt32();
  ctx.use_junk_mail_folder = ReadSetting(filter, "UseJunkMailFolder").ToText();
  ctx.use_white_list = ReadSetting(filter, "UseWhiteList").ToInt32();
  ctx.auto_white_list = ReadSetting(filter, "AutoWhiteList").ToInt32();
}

}  // namespace varnolt
