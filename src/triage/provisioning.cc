#include "triage/provisioning.h"

#include "diagnostics/event_log_writer.h"
#include "manual/user_manual.h"
#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"
#include "store/item_addressing.h"
#include "store/waste_basket.h"
#include "triage/domain_directory.h"
#include "triage/item_context.h"
#include "triage/triage_environment.h"
#include "trust/whitelist.h"

namespace varnolt {
namespace {

// Beside the user's database while one event welcomes the new user.
constexpr const char* kWelcomeClaimSuffix = ".welcome";

void CheckDataPathName(const char* what, const std::string& name) {
  const bool unsafe = name.empty() || name == "." || name == ".." ||
                      name.find_first_of(std::string("\\/\0", 3)) != std::string::npos;
  if (!unsafe) return;
  std::string shown;
  for (char c : name) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  throw ComError(kInvalidProcedureCall,
                 std::string(what) + " name \"" + shown + "\" of the item URL cannot name a file in the data folder");
}

bool Exists(TextFiles& files, const std::string& path) {
  return files.GetFileAttributes(path) != kInvalidFileAttributes;
}

}  // namespace

void CheckDataPathNames(const std::string& domain, const std::string& user) {
  CheckDataPathName("Domain", domain);
  CheckDataPathName("User", user);
}

void BuildDataPaths(const TriageEnvironment& env, ItemContext& ctx) {
  ctx.domain_dir = DomainDirectory(env.data_folder, ctx.domain);
  ctx.dat_path = UserDatabasePath(env.data_folder, ctx.domain, ctx.user);
}

void EnsureDomainDirectory(TriageEnvironment& env, ItemContext& ctx) {
  const CreateDirectoryResult result = CreateDomainDirectory(env.platform.Files(), env.data_folder, ctx.domain);
  if (result.created) {
    AppendTrace(env, ctx, " (Create User/Domain)");
    ReportToEventLog(env.platform.Events(),
                     "Database for Exchange Domain " + ctx.domain + " successfully created.",
                     EVENTLOG_INFORMATION_TYPE, 0);
    return;
  }
  if (result.already_exists) return;  // every event after a domain's first
  LogInfo(env, "ERROR while checking " + ctx.domain_dir + " ,LastDllErr Code: " + std::to_string(result.error_code));
}

bool PassesProviderGate(TriageEnvironment& env, ItemContext& ctx) {
  if (ctx.provider_mode == 0) return true;
  TextFiles& files = env.platform.Files();
  if (Exists(files, ctx.dat_path)) return true;
  const std::string marker = ctx.dat_path + ".create";
  if (!Exists(files, marker)) return false;
  LogInfo(env, "New user found, initialize database " + ctx.dat_path);
  const int code = files.DeleteFile(marker);
  if (code != 0) LogInfo(env, "Cannot delete " + marker + " ,LastDllErr Code: " + std::to_string(code));
  return true;
}

void DeliverManualToNewUser(TriageEnvironment& env, ItemContext& ctx) {
  TextFiles& files = env.platform.Files();
  if (Exists(files, ctx.dat_path)) return;
  // Several deliveries to a new user may run at once, in several processes:
  // the one that holds the claim welcomes the user, the others leave it. The
  // claim file outlives the event once the database exists (ReleaseWelcomeClaim):
  // the database alone cannot say the welcome went out, since a delivery that
  // left the welcome to another creates it. A claim file nobody holds while
  // there is still no database was left by an event that ended before its
  // end (a killed process): its welcome may never have gone out, so this
  // event takes it over.
  const std::string claim = ctx.dat_path + kWelcomeClaimSuffix;
  FileClaimResult result = files.ClaimFile(claim);
  if (result.held_elsewhere) return;
  if (result.claim) {
    if (!result.created) {
      // Its holder may have made the database just before it let go.
      if (Exists(files, ctx.dat_path)) return;
      LogInfo(env, "Taking over " + claim + ", left by an event that ended before the user's database existed");
    }
    ctx.welcome_claim = claim;
    ctx.welcome_claim_lock = std::move(result.claim);
  } else {
    LogInfo(env, "Cannot create " + claim + " ,LastDllErr Code: " + std::to_string(result.error_code));
  }
  LogInfo(env, "dat file does not exist, create the manual for the user.");
  // The user reads it in the Inbox, wherever the first mail was filed (an
  // address extension may deliver straight into the junk folder).
  std::string inbox = DetectInbox(*ctx.EventConnection(), ctx.domain, ctx.user);
  if (inbox.empty()) inbox = GetInbox(env.reporter, ctx.item_url);
  CreateUserManual(env.reporter, *ctx.EventConnection(), env.data_folder, inbox);
  // The new user's whitelist, empty: from now on a missing one is a fault worth its report.
  const int code = CreateEmptyWhiteList(files, ctx.dat_path);
  if (code != 0) {
    LogInfo(env, "Cannot create " + WhiteListPath(ctx.dat_path) + " ,LastDllErr Code: " + std::to_string(code));
  }
}

void ReleaseWelcomeClaim(TriageEnvironment& env, ItemContext& ctx) {
  if (ctx.welcome_claim.empty()) return;
  TextFiles& files = env.platform.Files();
  // Kept once this event's engine has made the user's database: it records
  // the welcome. Without a database the user is still new, and the next
  // delivery welcomes them again.
  if (!Exists(files, ctx.dat_path)) {
    const int code = files.DeleteFile(ctx.welcome_claim);
    if (code != 0) LogInfo(env, "Cannot delete " + ctx.welcome_claim + " ,LastDllErr Code: " + std::to_string(code));
  }
  // Let go only after the file is settled, so that no other event takes over a claim being removed.
  ctx.welcome_claim_lock.reset();
  ctx.welcome_claim.clear();
}

}  // namespace varnolt
