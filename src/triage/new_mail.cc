#include "triage/new_mail.h"

#include "store/junk_folders.h"
#include "store/mail_marker.h"
#include "store/property_names.h"
#include "triage/item_context.h"
#include "triage/triage_environment.h"
#include "triage/new_mail_decision.h"
#include "triage/provisioning.h"
#include "trust/message_readers.h"

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

void Hide(Record& record) {
  Fields& fields = record.GetFields();
  fields.Item(MapiField("x67aa000b"))->SetValue(Variant::Bool(true));
  fields.Update();
}

void Mark(TriageEnvironment& env, ItemContext& ctx, int32_t marker) {
  if (SetMailMarker(env.reporter, ctx.ItemRecord(), marker)) ctx.verdict.marker = marker;
}

void HandleSpam(TriageEnvironment& env, ItemContext& ctx) {
  Record& record = ctx.ItemRecord();
  Mark(env, ctx, kMarkerSpam);
  AppendTrace(env, ctx, " recognized as SPAM");
  if (ctx.hide_spam != 0 && !ctx.spambox_unusable) {
    Hide(record);
    ctx.verdict.hidden = true;
  }
  if (!ctx.junk_folder_found && ctx.spambox_unusable) return;
  const std::string& folder = ctx.junk_folder_found ? ctx.junk_folder_url : ctx.spambox_url;
  // Delivered straight into it (an address extension, a server-side rule): where it belongs.
  if (IsInFolder(record, folder)) {
    AppendTrace(env, ctx, " (already in the junk folder)");
    return;
  }
  if (MoveSpamToFolder(env.reporter, env.platform.Ticks(), record, folder, ctx.mail_file)) {
    ctx.verdict.moved_to = folder;
  }
}

}  // namespace

void HandleNewMail(TriageEnvironment& env, ItemContext& ctx) {
  ChooseSpamFolder(env, ctx);
  DeliverManualToNewUser(env, ctx);
  Record& record = ctx.ItemRecord();
  const TrustAnswer trust = WhoDecides(env.reporter, env.platform.Files(), record, ctx.dat_path, ctx.use_white_list);
  ctx.sender_address = trust.sender;
  ctx.verdict.sender = trust.sender;
  const std::string headers = GetTransportHeaders(record);
  const std::string body = GetBodyText(record);
  if (trust.decided_by != DecidedBy::kEngine) {
    AppendTrace(env, ctx, trust.decided_by == DecidedBy::kInternal ? " (EA)" : " (WL)");
    AskEngine(ctx, [&] { ctx.Engine(env.platform).Learn(ctx.dat_path, headers, body, false); });
    ctx.verdict.decided_by = trust.decided_by;
    ctx.verdict.is_spam = false;
    Mark(env, ctx, kMarkerHam);
    AppendTrace(env, ctx, " forced to HAM");
    return;
  }
  const SpamScore score =
      AskEngine(ctx, [&] { return ctx.Engine(env.platform).Classify(ctx.dat_path, headers, body); });
  ctx.verdict.decided_by = DecidedBy::kEngine;
  ctx.verdict.score = score;
  ctx.verdict.is_spam = score.is_spam;
  if (score.is_spam) {
    HandleSpam(env, ctx);
  } else {
    Mark(env, ctx, kMarkerHam);
    AppendTrace(env, ctx, " parsed as HAM");
  }
}

}  // namespace varnolt
