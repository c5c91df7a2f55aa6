#include "engine/thin_model.h"

#include <algorithm>
#include <string>

#include "engine/feature_hash.h"

namespace varnolt::engine {
namespace {

bool StartsWithFrom(std::string_view line) {
  if (line.size() < 5 || line[4] != ':') return false;
  for (size_t i = 0; i < 4; ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != "from"[i]) return false;
  }
  return true;
}

// The first From field with its continuation lines, as a header of its own.
std::string FromField(std::string_view header) {
  std::string field;
  size_t pos = 0;
  bool inside = false;
  while (pos < header.size()) {
    size_t end = header.find('\n', pos);
    if (end == std::string_view::npos) end = header.size();
    const std::string_view line = header.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty() || line == "\r") break;
    const bool continuation = line[0] == ' ' || line[0] == '\t';
    if (inside && !continuation) break;
    if (inside || StartsWithFrom(line)) {
      inside = true;
      field.append(line).append("\n");
    }
  }
  return field;
}

}  // namespace

bool HasEvidence(const SpamCounts& evidence, const ThinModelOptions& options) {
  return std::min(evidence.ham, evidence.spam) >= options.min_each_class;
}

double SpamShare(const std::vector<TokenCounts>& tokens) {
  if (tokens.empty()) return 0;
  const auto known = std::count_if(tokens.begin(), tokens.end(), [](const TokenCounts& t) { return t.spam > 0; });
  return static_cast<double>(known) / static_cast<double>(tokens.size());
}

std::vector<uint64_t> SenderIds(std::string_view header, const MessageFeatures& features,
                                const TokenizerOptions& options) {
  const std::string from = FromField(header);
  if (from.empty()) return {};
  const uint64_t field_name = TokenId("hdr:from");
  std::vector<uint64_t> sender;
  for (const uint64_t id : Features(from, "", options).header_ids) {
    if (id != field_name && std::binary_search(features.ids.begin(), features.ids.end(), id)) sender.push_back(id);
  }
  return sender;
}

bool SenderKnownAsSpam(const std::vector<uint64_t>& sender_ids, const std::vector<uint64_t>& ids,
                       const std::vector<TokenCounts>& counts) {
  if (sender_ids.empty()) return false;
  for (const uint64_t id : sender_ids) {
    const auto at = std::lower_bound(ids.begin(), ids.end(), id);
    if (at == ids.end() || *at != id || counts[static_cast<size_t>(at - ids.begin())].spam == 0) return false;
  }
  return true;
}

}  // namespace varnolt::engine
