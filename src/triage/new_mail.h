// A newly delivered message: where SPAM of this user goes, the manual for a new
// user, the trust test, the verdict, the marker, hiding and the move.
#pragma once

namespace varnolt {

struct TriageEnvironment;
struct ItemContext;

// Trusted mail (an internal sender, or a whitelisted one) is taught to the
// engine as HAM and marked 1; other mail is classified and marked 1 or 2, and
// SPAM is hidden (HideSpam) and moved into the junk folder or an existing
// Spambox. Errors of the engine or of hiding propagate; the marker and moves
// report their own failures. What it decided goes into ctx.verdict as it goes.
void HandleNewMail(TriageEnvironment& env, ItemContext& ctx);

}  // namespace varnolt
