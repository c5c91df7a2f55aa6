// The user's data below the data folder: the domain directory, the
// provider-mode gate and the manual for a user the engine does not know yet.
#pragma once

#include <string>

namespace varnolt {

struct TriageEnvironment;
struct ItemContext;

// Throws ComError when a domain or user name from the item URL would not stay
// one plain name inside the data folder ("", ".", "..", or holding "\", "/" or
// a NUL), before any path is built from it.
void CheckDataPathNames(const std::string& domain, const std::string& user);

// Sets domain_dir and dat_path from the filter's data folder, the domain and the user.
void BuildDataPaths(const TriageEnvironment& env, ItemContext& ctx);

// Creates the domain directory when missing: a new one adds " (Create
// User/Domain)" to the trace and an information entry to the event log; an
// existing one is silent; another failure is logged (DebugLevel not 0) with
// the platform's error code, and the event goes on.
void EnsureDomainDirectory(TriageEnvironment& env, ItemContext& ctx);

// False when ProviderMode is on and the user has neither a database nor a
// ".create" marker: the event is to end silently. A marker announces a new
// user once: it is deleted (a failed deletion is logged) and the event goes on.
bool PassesProviderGate(TriageEnvironment& env, ItemContext& ctx);

// Delivers the user manual into the mailbox's Inbox (the folder of the new
// mail where the store names no Inbox) while the user has no database file; repeated on every new mail until the engine made one.
// Exactly one of the events that run at once for a new user delivers it, in
// whatever processes they run: the one that holds the claim on the file
// dat_path + ".welcome" (TextFiles::ClaimFile) until ReleaseWelcomeClaim. A
// claim file without holder or database, left by a killed event, is taken over.
// The welcoming event also makes the user's empty whitelist when there is none.
void DeliverManualToNewUser(TriageEnvironment& env, ItemContext& ctx);

// Removes the event's welcome claim, if it made one; a failure is logged
// (DebugLevel not 0). Call when the event ends, however it ends.
void ReleaseWelcomeClaim(TriageEnvironment& env, ItemContext& ctx);

}  // namespace varnolt
