#include "varnolt/setting_descriptions.h"

#include <strings.h>

namespace varnolt::cli {

const std::vector<SettingDescription>& SettingDescriptions() {
  static const std::vector<SettingDescription> kSettings = {
      {"DebugLevel", "0, 1, 2-3, 4 or more",
       "How much the filter writes to its log (Varnolt.log in the data folder)",
       "Error lines (\"Err: ...\") are written at every level.\n"
       "0: nothing else.\n"
       "1 (any number but 0): informational lines (each setting as it is loaded, the junk folder found, "
       "new domains and users, the user manual delivered, store startup and shutdown) and one trace line "
       "per handled event: the event, the verdict (\"parsed as HAM\", \"recognized as SPAM\", \"forced to HAM\" "
       "for trusted senders) and the time it took.\n"
       "2 and 3: also a details block per event (domain, user, mail file, flags, URL, sender, whitelist "
       "path, body length, junk folder, whitelist and provider mode, the user's HAM/SPAM counts) and a line "
       "for every sender added to a whitelist.\n"
       "4 and more: also the message's transport headers and body in the trace; the log then holds mail "
       "content and grows fast."},
      {"HideSpam", "0 (off) or any other number (on)",
       "Also hide mail judged SPAM from the user's mail client",
       "On: a message judged SPAM is also marked hidden (MAPI property x67aa000b) besides being moved to the "
       "junk folder; `varnolt ls --all` still shows it. Nothing is hidden when no junk folder or Spambox can "
       "be used for the message.\n"
       "Off: SPAM is moved but stays visible."},
      {"ProviderMode", "0 (off) or any other number (on)",
       "Filter only users who have a spam database or were announced",
       "Off: every mailbox is filtered; a user's spam database (<data folder>/<domain>/<user>.dat) is made "
       "on the user's first message.\n"
       "On: only users who already have a database, or who were announced by an empty file "
       "<domain>/<user>.dat.create in the data folder, are filtered (the filter deletes the .create file on "
       "the user's first message); mail of other users is stored untouched, without a marker."},
      {"UseJunkMailFolder", "folder names separated by \";\", or empty",
       "Where SPAM goes: the first of these folders that exists, else \"Spambox\"",
       "The names are top-level folders of the user's mailbox (blanks around each name are ignored), tried "
       "in order; SPAM is moved into the first that exists. When none exists (or the value is empty or unset) "
       "the filter uses a folder \"Spambox\", which it creates when missing (the Spambox made by an event is "
       "used from the next message on).\n"
       "A user's move of a message into that folder is taken as the user's verdict SPAM; a move out of it as "
       "HAM. Both are taught to the spam engine."},
      {"UseWhiteList", "0 (off) or any other number (on)",
       "Trust senders listed in the user's whitelist",
       "On: a new message whose sender address is a line of the user's whitelist (<domain>/<user>.dat.wlt in "
       "the data folder; `varnolt whitelist list`) is HAM without asking the spam engine, and is learned as "
       "HAM. Addresses match exactly, letter case included.\n"
       "Off: the whitelist is neither read nor extended (AutoWhiteList has no effect). Mail submitted inside "
       "the organisation is trusted either way."},
      {"AutoWhiteList", "0 (off) or any other number (on)",
       "Whitelist the sender of a message the user rescues from the junk folder",
       "On (and UseWhiteList on): when the user moves a message marked SPAM out of the junk folder (not into "
       "Deleted Items), the filter relearns it as HAM and adds its sender to the user's whitelist, unless the "
       "sender is listed already.\n"
       "Off: the message is still relearned as HAM, but the whitelist is not changed."},
  };
  return kSettings;
}

const SettingDescription* FindSettingDescription(const std::string& name) {
  for (const SettingDescription& setting : SettingDescriptions()) {
    if (strcasecmp(setting.name, name.c_str()) == 0) return &setting;
  }
  return nullptr;
}

}  // namespace varnolt::cli
