#include "triage/new_mail.h"

#include "host/exchange_filter.h"
#include "store/junk_folders.h"
#include "store/mail_marker.h"
#include "store/property_names.h"
#include "triage/item_context.h"
#include "triage/provisioning.h"
#include "trust/message_readers.h"
#include "trust/whitelist.h"

namespace varnolt {
namespace {

// Settles junk_folder_found and spambox_unusable for this event.
void ChooseSpamFolder(ExchangeFilter& filter, ItemContext& ctx) {
  std::shared_ptr<Connection> connection = ctx.EventConnection();
  // The folder may have gone since the resolution; the call is made even when
  // none was found.
  if (!OpenJunkMailFolder(*connection, ctx.junk_folder_url) && ctx.junk_folder_found) {
    LogInfo(filter,
            "The use of Junk Mail folder is enabled but the folder does not exists! Try to create the Spambox...");
    ctx.junk_folder_found = false;
  }
  if (ctx.junk_folder_found) return;
  // A Spambox made by this very event is not used until the next one.
  if (!OpenSpambox(filter, *connection, ctx.spambox_url)) ctx.spambox_unusable = true;
}

bool IsTrustedSender(ExchangeFilter& filter, ItemContext& ctx) {
  Record& record = ctx.ItemRecord();
  const std::string addr_type = GetSenderAddrType(record);
  const std::string headers = GetTransportHeaders(record);
  if (addr_type == "EX" && headers.empty()) {
    AppendTrace(filter, ctx, " (EA)");
    return true;
  }
  if (ctx.use_white_list == 0) return false;
  ctx.sender_address = GetSenderAddress(filter, record);
  const bool listed = InWhiteList(filter, filter.platform().Files(), record, ctx.dat_path, ctx.sender_address);
  if (ctx.sender_address.empty() || !listed) return false;
  AppendTrace(filter, ctx, " (WL)");
  return true;
}

void Hide(Record& record) {
  Fields& fields = record.GetFields();
  fields.Item(MapiField("x67aa000b"))->SetValue(Variant::Bool(true));
  fields.Update();
}

void HandleSpam(ExchangeFilter& filter, ItemContext& ctx) {
  Record& record = ctx.ItemRecord();
  SetMailMarker(filter, record, kMarkerSpam);
  AppendTrace(filter, ctx, " recognized as SPAM");
  if (ctx.hide_spam != 0 && !ctx.spambox_unusable) Hide(record);
  TickSource& ticks = filter.platform().Ticks();
  if (ctx.junk_folder_found) {
    MoveSpamToFolder(filter, ticks, record, ctx.junk_folder_url, ctx.mail_file);
  } else if (!ctx.spambox_unusable) {
    MoveSpamToFolder(filter, ticks, record, ctx.spambox_url, ctx.mail_file);
  }
}

}  // namespace

void HandleNewMail(ExchangeFilter& filter, ItemContext& ctx) {
  ChooseSpamFolder(filter, ctx);
  DeliverManualToNewUser(filter, ctx);
  Record& record = ctx.ItemRecord();
  const bool trusted = IsTrustedSender(filter, ctx);
  const std::string headers = GetTransportHeaders(record);
  const std::string body = GetBodyText(record);
  SpamEngine& engine = ctx.Engine(filter.platform());
  if (trusted) {
    engine.Learn(ctx.dat_path, headers, body, false);
    SetMailMarker(filter, record, kMarkerHam);
    AppendTrace(filter, ctx, " forced to HAM");
  } else if (engine.Classify(ctx.dat_path, headers, body)) {
    HandleSpam(filter, ctx);
  } else {
    SetMailMarker(filter, record, kMarkerHam);
    AppendTrace(filter, ctx, " parsed as HAM");
  }
}

}  // namespace varnolt
