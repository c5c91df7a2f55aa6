#include "triage/junk_folder_resolution.h"

#include <vector>

#include "platform/names/data_layout.h"
#include "store/junk_folders.h"
#include "triage/item_context.h"

namespace varnolt {
namespace {

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t begin = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, begin)) {
    pieces.push_back(text.substr(begin, at - begin));
    begin = at + 1;
  }
  pieces.push_back(text.substr(begin));
  return pieces;
}

// Only blanks are trimmed: a tab belongs to the folder name.
std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

void ResolveJunkFolder(TriageEnvironment& env, ItemContext& ctx) {
  if (ctx.use_junk_mail_folder.empty()) return;
  const std::string root = MailboxUrl(ctx.domain, ctx.user);
  for (const std::string& raw : SplitAt(ctx.use_junk_mail_folder, ';')) {
    const std::string piece = TrimBlanks(raw);
    ctx.junk_folder_url = root + "/" + piece;
    // The open comes first: an empty piece is tried but never accepted.
    const bool opened = OpenJunkMailFolder(*ctx.EventConnection(), ctx.junk_folder_url);
    if (!piece.empty() && opened) {
      LogInfo(env, "Found JunkMail folder '" + ctx.junk_folder_url + "'");
      ctx.junk_folder_found = true;
      return;
    }
  }
}

}  // namespace varnolt
