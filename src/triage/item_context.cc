#include "triage/item_context.h"

#include "config/shared_settings.h"
#include "platform/com/com_error.h"
#include "triage/triage_environment.h"

namespace varnolt {
namespace {

Variant ReadSetting(TriageEnvironment& env, const char* name) {
  return GetSharedSetting(env.reporter, env.platform, env.debug_level, name);
}

}  // namespace

std::optional<SaveEventKind> SaveEventKindFromFlags(int32_t lFlags) {
  // Whole-value comparison: a known value with one more bit set is not known.
  switch (static_cast<uint32_t>(lFlags)) {
    case 0x01000008u:  // delivered
    case 0x01000048u:  // delivered, being initialised
      return SaveEventKind::NewMail;
    case 0x01000041u:  // new item, being initialised
    case 0x01000100u:  // moved
    case 0x01000140u:  // moved, being initialised
      return SaveEventKind::MovedByUser;
    default:
      return std::nullopt;
  }
}

const char* SaveEventLabel(SaveEventKind kind) {
  return kind == SaveEventKind::NewMail ? "New Mail" : "Mail moved by User";
}

Record& ItemContext::ItemRecord() {
  if (!item_record) throw ComError(E_POINTER, "The event has no item record");
  return *item_record;
}

std::shared_ptr<Connection> ItemContext::EventConnection() {
  std::shared_ptr<Connection> connection = event_info ? event_info->EventConnection() : nullptr;
  if (!connection) throw ComError(E_POINTER, "The event has no store connection");
  return connection;
}

SpamEngine& ItemContext::Engine(Platform& platform) {
  if (!engine) {
    engine = platform.CreateSpamEngine();
    if (!engine) throw ComError(E_FAIL, "No spam engine could be created");
  }
  return *engine;
}

void AppendTrace(const TriageEnvironment& env, ItemContext& ctx, const std::string& text) {
  if (env.debug_level != 0) ctx.trace_line += text;
}

void LogLine(TriageEnvironment& env, const std::string& text) { env.reporter.LogLine(text); }

void LogInfo(TriageEnvironment& env, const std::string& text) {
  if (env.debug_level != 0) LogLine(env, text);
}

void ReadSettingsSnapshot(TriageEnvironment& env, ItemContext& ctx) {
  env.debug_level = ReadSetting(env, "DebugLevel").ToInt32();
  ctx.hide_spam = ReadSetting(env, "HideSpam").ToInt32();
  ctx.provider_mode = ReadSetting(env, "ProviderMode").ToInt32();
  ctx.use_junk_mail_folder = ReadSetting(env, "UseJunkMailFolder").ToText();
  ctx.use_white_list = ReadSetting(env, "UseWhiteList").ToInt32();
  ctx.auto_white_list = ReadSetting(env, "AutoWhiteList").ToInt32();
}

}  // namespace varnolt
