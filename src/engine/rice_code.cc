#include "engine/rice_code.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace varnolt::engine {
namespace {

class BitWriter {
 public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void Put(bool bit) {
    if (used_ % 8 == 0) out_.push_back('\0');
    if (bit) out_.back() = static_cast<char>(static_cast<uint8_t>(out_.back()) | (1u << (used_ % 8)));
    ++used_;
  }

 private:
  std::string& out_;
  uint64_t used_ = 0;
};

class BitReader {
 public:
  explicit BitReader(std::string_view in) : in_(in) {}
  uint64_t BitsLeft() const { return in_.size() * 8 - next_; }
  // The next bits, low first: at least 56 of them valid, zeros past the end.
  uint64_t Window() const {
    const size_t byte = next_ / 8;
    uint64_t window = 0;
    if (byte + 8 <= in_.size()) {
      std::memcpy(&window, in_.data() + byte, 8);
      if constexpr (std::endian::native == std::endian::big) window = __builtin_bswap64(window);
    } else {
      for (size_t b = 0; byte + b < in_.size(); ++b) window |= uint64_t{static_cast<uint8_t>(in_[byte + b])} << (8 * b);
    }
    return window >> (next_ % 8);
  }
  void Skip(uint64_t bits) { next_ += bits; }
  size_t BytesStarted() const { return (next_ + 7) / 8; }
  bool SpareBitsZero() const {
    return next_ % 8 == 0 || (static_cast<uint8_t>(in_[next_ / 8]) >> (next_ % 8)) == 0;
  }

 private:
  std::string_view in_;
  uint64_t next_ = 0;
};

}  // namespace

uint64_t RiceBits(const std::vector<uint32_t>& ascending, int k) {
  uint64_t bits = 0;
  int64_t before = -1;
  for (uint32_t number : ascending) {
    const auto gap = static_cast<uint64_t>(number - before - 1);
    bits += (gap >> k) + 1 + static_cast<uint64_t>(k);
    before = number;
  }
  return bits;
}

int BestRiceParameter(const std::vector<uint32_t>& ascending, int max_k) {
  // The bits are convex in k (each step up saves fewer quotient bits than the
  // one before, and costs one bit a number): the first k whose next is no
  // shorter is the smallest best.
  int k = 0;
  uint64_t bits = RiceBits(ascending, 0);
  while (k < max_k) {
    const uint64_t next = RiceBits(ascending, k + 1);
    if (next >= bits) break;
    bits = next;
    ++k;
  }
  return k;
}

void AppendRice(const std::vector<uint32_t>& ascending, int k, std::string& out) {
  BitWriter writer(out);
  int64_t before = -1;
  for (uint32_t number : ascending) {
    const auto gap = static_cast<uint64_t>(number - before - 1);
    for (uint64_t q = gap >> k; q > 0; --q) writer.Put(true);
    writer.Put(false);
    for (int b = 0; b < k; ++b) writer.Put(((gap >> b) & 1) != 0);
    before = number;
  }
}

std::optional<RiceDecoded> ReadRice(std::string_view in, size_t count, int k, uint32_t bound) {
  if (k < 0 || k > kMaxRiceParameter) return std::nullopt;
  BitReader reader(in);
  RiceDecoded decoded;
  decoded.numbers.reserve(count);
  int64_t before = -1;
  for (size_t i = 0; i < count; ++i) {
    uint64_t quotient = 0;
    for (;;) {
      const uint64_t valid = std::min<uint64_t>(56, reader.BitsLeft());
      if (valid == 0) return std::nullopt;
      const auto ones = std::min<uint64_t>(static_cast<uint64_t>(std::countr_one(reader.Window())), valid);
      quotient += ones;
      reader.Skip(ones);
      // Past the bound already: a long run of ones ends here, not at the input's end.
      if ((quotient << k) >= bound) return std::nullopt;
      if (ones < valid) break;
    }
    reader.Skip(1);  // the run's closing 0
    if (reader.BitsLeft() < static_cast<uint64_t>(k)) return std::nullopt;
    const uint64_t gap = (quotient << k) | (reader.Window() & ((uint64_t{1} << k) - 1));
    reader.Skip(static_cast<uint64_t>(k));
    const auto number = static_cast<uint64_t>(before + 1) + gap;
    if (number >= bound) return std::nullopt;
    decoded.numbers.push_back(static_cast<uint32_t>(number));
    before = static_cast<int64_t>(number);
  }
  if (!reader.SpareBitsZero()) return std::nullopt;
  decoded.bytes = reader.BytesStarted();
  return decoded;
}

}  // namespace varnolt::engine
