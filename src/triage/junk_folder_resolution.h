// Finding the user's junk folder among the names the settings list.
#pragma once

#include <string>

namespace varnolt {

struct TriageEnvironment;
struct ItemContext;

// Tries the ";"-separated names of UseJunkMailFolder in order (each trimmed of
// spaces, taken as a folder path below the mailbox root) and stops at the
// first non-empty one that opens: junk_folder_found is set and, at a DebugLevel
// other than 0, "Found JunkMail folder '<url>'" is logged. junk_folder_url is
// left at the last URL tried; with an empty setting nothing is tried.
void ResolveJunkFolder(TriageEnvironment& env, ItemContext& ctx);

}  // namespace varnolt
