#include "triage/save_event_driver.h"

#include <exception>

#include "diagnostics/text_log.h"
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

// The filter's reporter for one event: every error report also goes into the
// event's verdict, so that the host can tell why a message has none.
class VerdictReporter final : public Reporter {
 public:
  VerdictReporter(Reporter& reporter, SaveVerdict& verdict) : reporter_(reporter), verdict_(verdict) {}
  void LogLine(const std::string& line) override { reporter_.LogLine(line); }
  void LogError(const std::string& sErr, int32_t nErr, const std::string& source) override {
    reporter_.LogError(sErr, nErr, source);
    try {
      constexpr size_t kPrefix = sizeof "Err: " - 1;
      verdict_.errors.push_back(ErrorLogMessage(sErr, nErr, source).substr(kPrefix));
    } catch (...) {
      // Never throws, as the reporter it stands for.
    }
  }

 private:
  Reporter& reporter_;
  SaveVerdict& verdict_;
};

// Everything after the flags; returns early where the event ends silently.
void Triage(TriageEnvironment& env, IUnknown* pEventInfo, ItemContext& ctx) {
  ctx.trace_line = SaveEventLabel(ctx.kind);
  ReadSettingsSnapshot(env, ctx);
  ctx.junk_folder_url = ctx.use_junk_mail_folder;
  ctx.event_info = QueryEventInfo(pEventInfo);
  ctx.item_record = ctx.event_info->EventRecord();
  Record& record = ctx.ItemRecord();
  if (!IsMessage(record)) {
    ctx.verdict.left = LeftBecause::kNotAMessage;
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
  if (!PassesProviderGate(env, ctx)) {
    ctx.verdict.left = LeftBecause::kProviderMode;
    return;
  }
  if (ctx.kind == SaveEventKind::NewMail) {
    HandleNewMail(env, ctx);
  } else {
    HandleUserMove(env, ctx);
  }
  WriteTraceReport(env, ctx);
}

void ReportFailure(TriageEnvironment& env, ItemContext& ctx, const std::string& description, int32_t number) {
  ctx.verdict.left = LeftBecause::kFailed;
  try {
    ctx.verdict.failure = VerdictFailure{ctx.engine_failed, number, description};
  } catch (...) {
  }
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

void RunSaveEvent(TriageEnvironment& outer, IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) {
  ItemContext ctx;
  VerdictReporter reporter(outer.reporter, ctx.verdict);
  TriageEnvironment env{outer.platform, reporter, outer.data_folder, outer.debug_level};
  try {
    ctx.start_ticks = env.platform.Ticks().GetTickCount();
    ctx.verdict.item_url = bstrURLItem;
    const std::optional<SaveEventKind> kind = SaveEventKindFromFlags(lFlags);
    if (kind) {
      ctx.kind = *kind;
      ctx.flags = lFlags;
      ctx.item_url = bstrURLItem;
      Triage(env, pEventInfo, ctx);
    } else {
      ctx.verdict.left = LeftBecause::kIgnoredEvent;
    }
  } catch (const ComError& e) {
    ReportFailure(env, ctx, e.description(), e.number());
  } catch (const std::exception& e) {
    ReportFailure(env, ctx, std::string("Unexpected error: ") + e.what(), E_FAIL);
  } catch (...) {
    ReportFailure(env, ctx, "Unexpected error of an unknown kind", E_FAIL);
  }
  outer.debug_level = env.debug_level;
  try {
    ReleaseWelcomeClaim(env, ctx);
  } catch (...) {
    // A claim left behind only keeps the manual from being delivered twice.
  }
  try {
    env.platform.TakeVerdict(ctx.verdict);
  } catch (...) {
    // The host's trouble: the store is never told of it.
  }
}

}  // namespace varnolt
