// A user's move of an item into another folder of its mailbox, raised on the
// filter as the store raises it (which relearns or whitelists as the user's
// correction), with the correction joined to the message's journal record.
// `varnolt move` and the dashboard's release both move through here.
#pragma once

#include <string>

#include "varnolt/session.h"

namespace varnolt::cli {

// Moves the item at item_url into the folder at folder_path (a path below
// the mailbox root, like "Inbox" or "Junk E-Mail"; a free name is chosen
// when taken) and returns its new URL. Throws CommandError when the item is
// a folder, the folder is missing or the item already lies in it.
std::string MoveAsUser(Session& session, const std::string& item_url, const std::string& folder_path);

}  // namespace varnolt::cli
