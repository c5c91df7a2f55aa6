#include "triage/trace_report.h"

#include <cstdio>

#include "triage/item_context.h"
#include "triage/triage_environment.h"
#include "trust/message_readers.h"
#include "trust/whitelist.h"

namespace varnolt {
namespace {

constexpr const char* kRowBreak = "\r\n";

// Characters, not bytes, of a UTF-8 text.
size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string UpperHex(int32_t value) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%X", static_cast<uint32_t>(value));
  return digits;
}

std::string WhiteListRow(const ItemContext& ctx) {
  if (ctx.use_white_list == 0) return "disabled";
  return ctx.auto_white_list != 0 ? "enabled (auto)" : "enabled";
}

std::string DetailsBlock(TriageEnvironment& env, ItemContext& ctx) {
  const auto row = [](const std::string& text) { return kRowBreak + text; };
  std::string block = row("___Details___");
  block += row("Domain    : " + ctx.domain);
  block += row("User      : " + ctx.user);
  block += row("Mailfile  : " + ctx.mail_file);
  block += row("Flags     : 0x" + UpperHex(ctx.flags));
  block += row("URL       : " + ctx.item_url);
  block += row("Sender    : " + ctx.sender_address);
  // "WhileList" is the label administrators' log parsers know; keep it.
  block += row("WhileList : " + WhiteListPath(ctx.dat_path));
  block += row("Body Len  : " + std::to_string(CharacterCount(GetBodyText(ctx.ItemRecord()))));
  block += row("DebugLevel: " + std::to_string(env.debug_level));
  block += row(std::string("UseJunkFld: ") + (ctx.junk_folder_found ? "yes" : "no"));
  block += row("JunkFolder: " + ctx.junk_folder_url);
  block += row("WhiteList : " + WhiteListRow(ctx));
  block += row("ProvMode  : " + std::to_string(ctx.provider_mode));
  if (ctx.hide_spam != 0) block += row("Hide Spam : yes");
  const SpamCounts counts = ctx.Engine(env.platform).GetCounts(ctx.dat_path);
  block += row("HAM/SPAM  : " + std::to_string(counts.ham) + "/" + std::to_string(counts.spam));
  return block;
}

std::string HeaderAndBodyBlock(ItemContext& ctx) {
  Record& record = ctx.ItemRecord();
  std::string block = std::string(kRowBreak) + "Header    : " + GetTransportHeaders(record);
  block += std::string(kRowBreak) + "Body      : " + GetBodyText(record);
  return block;
}

}  // namespace

void WriteTraceReport(TriageEnvironment& env, ItemContext& ctx) {
  const int32_t level = env.debug_level;
  if (level == 0) return;
  // Unsigned subtraction: the true elapsed time across a wrap of the counter.
  const uint32_t elapsed = env.platform.Ticks().GetTickCount() - ctx.start_ticks;
  std::string report = ctx.trace_line + " : " + std::to_string(elapsed) + "ms";
  if (level > 1) report += DetailsBlock(env, ctx);
  if (level > 3) report += HeaderAndBodyBlock(ctx);
  LogLine(env, report);
}

}  // namespace varnolt
