#include "engine/thin_model.h"

#include <algorithm>
#include <string>

#include "backends/mailstore/raw_headers.h"
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
std::string_view FromField(std::string_view header) {
  std::string_view from;
  mailstore::ForEachSectionField(header, [&](const mailstore::SectionField& field) {
    if (from.empty() && StartsWithFrom(field.text)) from = field.text;
  });
  return from;
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
  const std::string_view from = FromField(header);
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
