// What one save event knows about its item: the kind of event, the settings
// snapshot, the pieces of the item URL, the user's data paths and the spam
// engine instance. Lives for one event and is shared by its branches.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/com/unknown.h"
#include "platform/save_verdict.h"
#include "platform/spam_engine.h"
#include "platform/text_files.h"
#include "store/store_events.h"

namespace varnolt {

struct TriageEnvironment;
class Platform;

enum class SaveEventKind {
  NewMail,
  MovedByUser,
};

// The kind of an event by exact comparison of its whole flags value; nothing
// for flags the filter does not handle.
std::optional<SaveEventKind> SaveEventKindFromFlags(int32_t lFlags);

// "New Mail" or "Mail moved by User": the start of the trace line.
const char* SaveEventLabel(SaveEventKind kind);

struct ItemContext {
  SaveEventKind kind = SaveEventKind::NewMail;
  int32_t flags = 0;
  std::string item_url;
  uint32_t start_ticks = 0;
  std::string trace_line;

  // Settings snapshot (DebugLevel lives in the environment).
  int32_t hide_spam = 0;
  int32_t provider_mode = 0;
  std::string use_junk_mail_folder;
  int32_t use_white_list = 0;
  int32_t auto_white_list = 0;

  std::string domain;
  std::string user;
  std::string mail_file;
  std::string spambox_url;
  std::string junk_folder_url;
  bool junk_folder_found = false;
  bool spambox_unusable = false;
  std::string domain_dir;
  std::string dat_path;
  // The file this event claimed to be the one that welcomes a new user, and
  // the claim itself, held until the event ends ("" and none when none).
  std::string welcome_claim;
  std::shared_ptr<FileClaim> welcome_claim_lock;
  std::string sender_address;

  ComPtr<IExStoreDispEventInfo> event_info;
  std::shared_ptr<Record> item_record;  // null until the driver takes it from the event
  std::unique_ptr<SpamEngine> engine;   // null until first needed
  bool engine_failed = false;           // a call of the engine threw (AskEngine)

  // What the event decided, handed to the host when it ends.
  SaveVerdict verdict;

  // The event's record; throws ComError when the event has none.
  Record& ItemRecord();
  // The event's connection, read afresh on every call; throws ComError when
  // the event has none. The caller keeps the pointer for as long as it uses it.
  std::shared_ptr<Connection> EventConnection();
  // The event's engine, made through the platform on first use.
  SpamEngine& Engine(Platform& platform);
};

// Runs call, which asks the event's engine (making it included); a failure is
// noted as the engine's before it propagates.
template <typename Call>
auto AskEngine(ItemContext& ctx, Call call) -> decltype(call()) {
  try {
    return call();
  } catch (...) {
    ctx.engine_failed = true;
    throw;
  }
}

// Reads DebugLevel, HideSpam, ProviderMode, UseJunkMailFolder, UseWhiteList and
// AutoWhiteList in this order from the settings cache. DebugLevel is stored in
// the environment before the next read, so the later reads (and what they
// log) already run under the new level. A text that is no number throws ComError.
void ReadSettingsSnapshot(TriageEnvironment& env, ItemContext& ctx);

// Appends to the trace line when the DebugLevel is not 0.
void AppendTrace(const TriageEnvironment& env, ItemContext& ctx, const std::string& text);

// One line through the reporter; a failure throws its ComError.
void LogLine(TriageEnvironment& env, const std::string& text);

// LogLine when the DebugLevel is not 0.
void LogInfo(TriageEnvironment& env, const std::string& text);

}  // namespace varnolt
