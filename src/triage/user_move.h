// A message the user moved: the move is the user's verdict.
#pragma once

namespace varnolt {

struct TriageEnvironment;
struct ItemContext;

// Into Deleted Items: left alone. Into the junk folder or the Spambox: a HAM
// message is relearned and marked SPAM. Anywhere else: a SPAM message is
// relearned and marked HAM, and its sender may join the whitelist
// (UseWhiteList and AutoWhiteList). A message without a marker is left alone.
// Errors of field reads and of the engine propagate. The verdict (the
// user's, or why there is none) goes into ctx.verdict.
void HandleUserMove(TriageEnvironment& env, ItemContext& ctx);

}  // namespace varnolt
