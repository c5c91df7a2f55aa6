#include "triage/item_context.h"

#include "host/exchange_filter.h"
#include "platform/com/com_error.h"
#include "platform/platform.h"

namespace varnolt {

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

void AppendTrace(const ExchangeFilter& filter, ItemContext& ctx, const std::string& text) {
  if (filter.DebugLevel() != 0) ctx.trace_line += text;
}

void LogLine(ExchangeFilter& filter, const std::string& text) {
  IExchangeFilter& self = filter;
  ThrowIfFailed(self.Log(text));
}

void LogInfo(ExchangeFilter& filter, const std::string& text) {
  if (filter.DebugLevel() != 0) LogLine(filter, text);
}

}  // namespace varnolt
