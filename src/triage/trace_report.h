// The one log entry that sums up a processed save event.
#pragma once

namespace varnolt {

struct TriageEnvironment;
struct ItemContext;

// Nothing at DebugLevel 0. Otherwise one Log call with CR LF between rows:
// the trace line + " : <elapsed>ms" (elapsed modulo 2^32, so a wrapping tick
// count still gives the true time); above 1 the details block (body length,
// settings, the engine's counts); above 3 the headers and the body. A failure
// while composing throws and nothing of the report is written.
void WriteTraceReport(TriageEnvironment& env, ItemContext& ctx);

}  // namespace varnolt
