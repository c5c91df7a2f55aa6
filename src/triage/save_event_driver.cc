#include "triage/save_event_driver.h"

#include <exception>

#include "host/exchange_filter.h"
#include "platform/com/com_error.h"
#include "store/item_addressing.h"
#include "store/property_names.h"
#include "triage/item_context.h"
#include "triage/junk_folder_resolution.h"
#include "triage/new_mail.h"
#include "triage/provisioning.h"
#include "triage/settings_snapshot.h"
#include "triage/trace_report.h"
#include "triage/user_move.h"

namespace varnolt {
namespace {

ComPtr<IExStoreDispEventInfo> QueryEventInfo(IUnknown* pEventInfo) {
  if (!pEventInfo) throw ComError(E_POINTER, "The event carries no event information");
  ComPtr<IExStoreDispEventInfo> info;
  const HRESULT hr = pEventInfo->QueryInterface(IID_IExStoreDispEventInfo, info.OutVoid());
  if (Failed(hr) || !info) throw ComError(Failed(hr) ? hr : E_NOINTERFACE, "The event information is not the store's");
  return info;
}

bool IsMessage(Record& record) {
  const Variant content_class = AsVariant(record.GetFields().Item(kContentClassField)->Value().ToText());
  return content_class.IsText() && content_class.AsText() == kMessageContentClass;
}

// Everything after the flags; returns early where the event ends silently.
void Triage(ExchangeFilter& filter, IUnknown* pEventInfo, ItemContext& ctx) {
  ctx.trace_line = SaveEventLabel(ctx.kind);
  ReadSettingsSnapshot(filter, ctx);
  ctx.junk_folder_url = ctx.use_junk_mail_folder;
  ctx.event_info = QueryEventInfo(pEventInfo);
  ctx.item_record = ctx.event_info->EventRecord();
  Record& record = ctx.ItemRecord();
  if (!IsMessage(record)) {
    filter.Log_Err("Item is not a message - check registration!", 0, record.Source());
    WriteTraceReport(filter, ctx);
    return;
  }
  SplitItemUrl(ctx.item_url, &ctx.domain, &ctx.user, &ctx.mail_file);
  // The names become file paths below: refuse them before anything else is done.
  CheckDataPathNames(ctx.domain, ctx.user);
  ctx.spambox_url = MailboxRootUrl(ctx.domain, ctx.user) + "/Spambox";
  ResolveJunkFolder(filter, ctx);
  BuildDataPaths(filter, ctx);
  EnsureDomainDirectory(filter, ctx);
  if (!PassesProviderGate(filter, ctx)) return;
  if (ctx.kind == SaveEventKind::NewMail) {
    HandleNewMail(filter, ctx);
  } else {
    HandleUserMove(filter, ctx);
  }
  WriteTraceReport(filter, ctx);
}

void ReportFailure(ExchangeFilter& filter, ItemContext& ctx, const std::string& description, int32_t number) {
  try {
    std::string source;
    if (ctx.item_record) {
      try {
        source = ctx.item_record->Source();
      } catch (...) {
        source = ctx.item_url;  // the store cannot even name the record: the event's URL is the next best
      }
    }
    filter.Log_Err("Varnolt Extension failed: " + description, number, source);
  } catch (...) {
    // The store is never told of a failure, not even of a lost report.
  }
}

}  // namespace

void RunSaveEvent(ExchangeFilter& filter, IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) {
  ItemContext ctx;
  try {
    ctx.start_ticks = filter.platform().Ticks().GetTickCount();
    const std::optional<SaveEventKind> kind = SaveEventKindFromFlags(lFlags);
    if (!kind) return;
    ctx.kind = *kind;
    ctx.flags = lFlags;
    ctx.item_url = bstrURLItem;
    Triage(filter, pEventInfo, ctx);
  } catch (const ComError& e) {
    ReportFailure(filter, ctx, e.description(), e.number());
  } catch (const std::exception& e) {
    ReportFailure(filter, ctx, std::string("Unexpected error: ") + e.what(), E_FAIL);
  } catch (...) {
    ReportFailure(filter, ctx, "Unexpected error of an unknown kind", E_FAIL);
  }
}

}  // namespace varnolt
