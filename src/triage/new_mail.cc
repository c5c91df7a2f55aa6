#include "triage/new_mail.h"

#include "store/junk_folders.h"
#include "store/mail_marker.h"
#include "store/property_names.h"
#include "triage/item_context.h"
#include "triage/triage_environment.h"
#include "triage/provisioning.h"
#include "trust/message_readers.h"
#include "trust/whitelist.h"

namespace varnolt {
namespace {

// Settles junk_folder_found and spambox_unusable for this event.
void ChooseSpamFolder(TriageEnvironment& env, ItemContext& ctx) {
  std::shared_ptr<Connection> connection = ctx.EventConnection();
  // The folder may have gone since the resolution; the call is made even when
  // none was found.
  if (!OpenJunkMailFolder(*connection, ctx.junk_folder_url) && ctx.junk_folder_found) {
    LogInfo(env,
            "The use of Junk Mail folder is enabled but the folder does not exists! Try to create the Spambox...");
    ctx.junk_folder_found = false;
  }
  if (ctx.junk_folder_found) return;
  // A Spambox made by this very event is not used until the next one.
  if (!OpenSpambox(env.reporter, *connection, ctx.spambox_url)) ctx.spambox_unusable = true;
}

bool IsTrustedSender(TriageEnvironment& env, ItemContext& ctx) {
  Record& record = ctx.ItemRecord();
  const std::string addr_type = GetSenderAddrType(record);
  const std::string headers = GetTransportHeaders(record);
  if (addr_type == "EX" && headers.empty()) {
    AppendTrace(env, ctx, " (EA)");
    return true;
  }
  if (ctx.use_white_list == 0) return false;
  ctx.sender_address = GetSenderAddress(env.reporter, record);
  const bool listed = InWhiteList(env.reporter, env.platform.Files(), record, ctx.dat_path, ctx.sender_address);
  if (ctx.sender_address.empty() || !listed) return false;
  AppendTrace(env, ctx, " (WL)");
  return true;
}

void Hide(Record& record) {
  Fields& fields = record.GetFields();
  fields.Item(MapiField("x67aa000b"))->SetValue(Variant::Bool(true));
  fields.Update();
}

void HandleSpam(TriageEnvironment& env, ItemContext& ctx) {
  Record& record = ctx.ItemRecord();
  SetMailMarker(env.reporter, record, kMarkerSpam);
  AppendTrace(env, ctx, " recognized as SPAM");
  if (ctx.hide_spam != 0 && !ctx.spambox_unusable) Hide(record);
  if (!ctx.junk_folder_found && ctx.spambox_unusable) return;
  const std::string& folder = ctx.junk_folder_found ? ctx.junk_folder_url : ctx.spambox_url;
  // Delivered straight into it (an address extension, a server-side rule): where it belongs.
  if (IsInFolder(record, folder)) {
    AppendTrace(env, ctx, " (already in the junk folder)");
    return;
  }
  MoveSpamToFolder(env.reporter, env.platform.Ticks(), record, folder, ctx.mail_file);
}

}  // namespace

void HandleNewMail(TriageEnvironment& env, ItemContext& ctx) {
  ChooseSpamFolder(env, ctx);
  DeliverManualToNewUser(env, ctx);
  Record& record = ctx.ItemRecord();
  const bool trusted = IsTrustedSender(env, ctx);
  const std::string headers = GetTransportHeaders(record);
  const std::string body = GetBodyText(record);
  SpamEngine& engine = ctx.Engine(env.platform);
  if (trusted) {
    engine.Learn(ctx.dat_path, headers, body, false);
    SetMailMarker(env.reporter, record, kMarkerHam);
    AppendTrace(env, ctx, " forced to HAM");
  } else if (engine.Classify(ctx.dat_path, headers, body)) {
    HandleSpam(env, ctx);
  } else {
    SetMailMarker(env.reporter, record, kMarkerHam);
    AppendTrace(env, ctx, " parsed as HAM");
  }
}

}  // namespace varnolt
