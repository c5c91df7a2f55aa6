#include "triage/user_move.h"

#include <algorithm>

#include "store/mail_marker.h"
#include "store/property_names.h"
#include "store/waste_basket.h"
#include "triage/item_context.h"
#include "triage/triage_environment.h"
#include "trust/message_readers.h"
#include "trust/whitelist.h"

namespace varnolt {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
  return text;
}

bool MovedToDeletedItems(TriageEnvironment& env, ItemContext& ctx) {
  const std::string parent = Lower(ctx.ItemRecord().GetFields().Item(kParentNameField)->Value().ToText());
  const std::string waste = Lower(DetectWasteBasket(env.reporter, *ctx.EventConnection(), ctx.domain, ctx.user));
  // A Deleted Items folder that could not be found matches nothing.
  return !waste.empty() && parent == waste;
}

bool MovedIntoJunk(ItemContext& ctx) {
  const std::string parent = Lower(ctx.ItemRecord().ParentURL());
  return (ctx.junk_folder_found && parent == Lower(ctx.junk_folder_url)) || parent == Lower(ctx.spambox_url);
}

// Relearns the message with the user's verdict, then writes the new marker.
void Swap(TriageEnvironment& env, ItemContext& ctx, bool to_spam) {
  Record& record = ctx.ItemRecord();
  const std::string headers = GetTransportHeaders(record);
  const std::string body = GetBodyText(record);
  AskEngine(ctx, [&] { ctx.Engine(env.platform).Relearn(ctx.dat_path, headers, body, to_spam); });
  ctx.verdict.decided_by = DecidedBy::kUser;
  ctx.verdict.is_spam = to_spam;
  const int32_t marker = to_spam ? kMarkerSpam : kMarkerHam;
  if (SetMailMarker(env.reporter, record, marker)) ctx.verdict.marker = marker;
}

// A move that changes no verdict.
void Leave(TriageEnvironment& env, ItemContext& ctx, int32_t marker, const char* agrees) {
  ctx.verdict.left = marker == kMarkerNone ? LeftBecause::kNoMarker : LeftBecause::kAgreesWithMarker;
  AppendTrace(env, ctx, marker == kMarkerNone ? " has no MM - leave" : agrees);
}

void AutoWhiteList(TriageEnvironment& env, ItemContext& ctx) {
  if (ctx.use_white_list == 0 || ctx.auto_white_list == 0) return;
  Record& record = ctx.ItemRecord();
  TextFiles& files = env.platform.Files();
  ctx.sender_address = GetSenderAddress(env.reporter, record);
  const bool listed = InWhiteList(env.reporter, files, record, ctx.dat_path, ctx.sender_address);
  if (ctx.sender_address.empty() || listed) return;
  if (AddToWhiteList(env.reporter, files, record, ctx.dat_path, ctx.sender_address) && env.debug_level > 1) {
    LogLine(env, "Sender Address " + ctx.sender_address + " added to WhiteList.");
  }
}

}  // namespace

void HandleUserMove(TriageEnvironment& env, ItemContext& ctx) {
  if (MovedToDeletedItems(env, ctx)) {
    ctx.verdict.left = LeftBecause::kDeletedItems;
    AppendTrace(env, ctx, " to Deleted Items - leave untouched");
    return;
  }
  const int32_t marker = GetMailMarker(env.reporter, ctx.ItemRecord());
  if (MovedIntoJunk(ctx)) {
    if (marker == kMarkerHam) {
      Swap(env, ctx, true);
      AppendTrace(env, ctx, " was swapped to SPAM");
    } else {
      Leave(env, ctx, marker == kMarkerSpam ? marker : kMarkerNone, " already parsed as SPAM");
    }
    return;
  }
  if (marker == kMarkerSpam) {
    Swap(env, ctx, false);
    AppendTrace(env, ctx, " was swapped to HAM (FP?)");
    AutoWhiteList(env, ctx);
  } else {
    Leave(env, ctx, marker == kMarkerHam ? marker : kMarkerNone, " already parsed as HAM");
  }
}

}  // namespace varnolt
