#include "varnolt/known_settings.h"

#include <algorithm>
#include <cctype>

#include "hosting/registry_values.h"
#include "platform/com/com_error.h"
#include "platform/com/variant.h"

namespace varnolt::cli {
namespace {

std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

const std::vector<KnownSetting>& KnownSettings() {
  static const std::vector<KnownSetting> settings = {
      {"DebugLevel", true, hosting::DwordValue(1)},   {"HideSpam", true, hosting::DwordValue(0)},
      {"ProviderMode", true, hosting::DwordValue(0)}, {"UseJunkMailFolder", false, hosting::StringValue("Junk E-Mail")},
      {"UseWhiteList", true, hosting::DwordValue(1)}, {"AutoWhiteList", true, hosting::DwordValue(1)},
  };
  return settings;
}

const KnownSetting* FindKnownSetting(const std::string& name) {
  for (const KnownSetting& setting : KnownSettings()) {
    if (Folded(setting.name) == Folded(name)) return &setting;
  }
  return nullptr;
}

std::optional<std::string> NearestKnownSetting(const std::string& name) {
  std::optional<std::string> nearest;
  size_t best = std::max<size_t>(3, name.size() / 3) + 1;  // more edits than that is another word
  for (const KnownSetting& setting : KnownSettings()) {
    const std::string known = Folded(setting.name);
    const std::string typed = Folded(name);
    // A name cut short or run on ("Debug", "HideSpamNow") is as likely a slip as a typo.
    const bool affix = typed.size() >= 4 && (known.starts_with(typed) || typed.starts_with(known));
    const size_t distance = affix ? 1 : EditDistance(typed, known);
    if (distance < best) {
      best = distance;
      nearest = setting.name;
    }
  }
  return nearest;
}

std::string UnusableValueReason(const KnownSetting& setting, const RegValue& value) {
  if (!setting.is_number) return "";
  if (value.type == REG_DWORD) return "";  // every 32-bit pattern is a number
  if (value.type != REG_SZ) return std::string(setting.name) + " takes a number";
  try {
    Variant::Text(hosting::DisplayText(value)).ToInt32();  // the filter's own conversion
    return "";
  } catch (const ComError& error) {
    const std::string text = hosting::DisplayText(value);
    if (error.number() == kOverflow) {
      return "'" + text + "' is outside the 32-bit range that " + std::string(setting.name) + " can hold";
    }
    return std::string(setting.name) + " takes a number; '" + text + "' is not one";
  }
}

}  // namespace varnolt::cli
