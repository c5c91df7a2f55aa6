// A learned message's stored key record, as a damaged model file or database
// row may hold it: either form is read or refused, never read past; what
// reads is ascending, in range, and packs again to a record of the same keys.
#include "engine/key_record.h"
#include "fuzz/fuzz_support.h"

using namespace varnolt::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<std::vector<uint32_t>> keys = UnpackKeys(varnolt::fuzz::AsText(data, size));
  if (!keys) return 0;
  if (keys->size() > kMaxRecordKeys) __builtin_trap();
  for (size_t i = 0; i < keys->size(); ++i) {
    if ((*keys)[i] >= kLinearKeyCount || (i > 0 && (*keys)[i] <= (*keys)[i - 1])) __builtin_trap();
  }
  const std::string again = PackKeys(*keys);
  if (UnpackKeys(again) != keys || again.size() > size + 1) __builtin_trap();
  return 0;
}
