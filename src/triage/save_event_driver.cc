#include "triage/save_event_driver.h"

#include <exception>

#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"
#include "store/item_addressing.h"
#include "store/property_names.h"
#include "triage/item_context.h"
#include "triage/triage_environment.h"
#include "triage/junk_folder_resolution.h"
#include "triage/new_mail.h"
#include "triage/provisioning.h"
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
void Triage(TriageEnvironment& env, IUnknown* pEventInfo, ItemContext& ctx) {
  ctx.trace_line = SaveEventLabel(ctx.kind);
  ReadSettingsSnapshot(env, ctx);
  ctx.junk_folder_url = ctx.use_junk_mail_folder;
  ctx.event_info = QueryEventInfo(pEventInfo);
  ctx.item_record = ctx.event_info->EventRecord();
  Record& record = ctx.ItemRecord();
  if (!IsMessage(record)) {
    env.reporter.LogError("Item is not a message - check registration!", 0, record.Source());
    WriteTraceReport(env, ctx);
    return;
  }
  SplitItemUrl(ctx.item_url, &ctx.domain, &ctx.user, &ctx.mail_file);
  // The names become file paths below: refuse them before anything else is done.
  CheckDataPathNames(ctx.domain, ctx.user);
  ctx.spambox_url = MailboxUrl(ctx.domain, ctx.user) + "/Spambox";
  ResolveJunkFolder(env, ctx);
  BuildDataPaths(env, ctx);
  EnsureDomainDirectory(env, ctx);
  if (!PassesProviderGate(env, ctx)) return;
  if (ctx.kind == SaveEventKind::NewMail) {
    HandleNewMail(env, ctx);
  } else {
    HandleUserMove(env, ctx);
  }
  WriteTraceReport(env, ctx);
}

void ReportFailure(TriageEnvironment& env, ItemContext& ctx, const std::string& description, int32_t number) {
  try {
    std::string source;
    if (ctx.item_record) {
      try {
        source = ctx.item_record->Source();
      } catch (...) {
        source = ctx.item_url;  // the store cannot even name the record: the event's URL is the next best
      }
    }
    env.reporter.LogError("Varnolt Extension failed: " + description, number, source);
  } catch (...) {
    // The store is never told of a failure, not even of a lost report.
  }
}

}  // namespace

void RunSaveEvent(TriageEnvironment& env, IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) {
  ItemContext ctx;
  try {
    ctx.start_ticks = env.platform.Ticks().GetTickCount();
    const std::optional<SaveEventKind> kind = SaveEventKindFromFlags(lFlags);
    if (!kind) return;
    ctx.kind = *kind;
    ctx.flags = lFlags;
    ctx.item_url = bstrURLItem;
    Triage(env, pEventInfo, ctx);
  } catch (const ComError& e) {
    ReportFailure(env, ctx, e.description(), e.number());
  } catch (const std::exception& e) {
    ReportFailure(env, ctx, std::string("Unexpected error: ") + e.what(), E_FAIL);
  } catch (...) {
    ReportFailure(env, ctx, "Unexpected error of an unknown kind", E_FAIL);
  }
  try {
    ReleaseWelcomeClaim(env, ctx);
  } catch (...) {
    // A claim left behind only keeps the manual from being delivered twice.
  }
}

}  // namespace varnolt
