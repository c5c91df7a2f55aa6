// Ascending distinct numbers written as Rice-coded gaps: each number less
// the one before it, less one (the first counts from -1), as the quotient
// by 2^k in unary (that many 1 bits, then a 0) and the remainder in k bits,
// low bit first. Random keys spread over a range cost about log2(range /
// count) + 2 bits each, against a fixed width's log2(range).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnolt::engine {

constexpr int kMaxRiceParameter = 31;

// The bits the numbers take at parameter k.
uint64_t RiceBits(const std::vector<uint32_t>& ascending, int k);
// The k in [0, max_k] that takes the fewest bits; the smallest such k.
int BestRiceParameter(const std::vector<uint32_t>& ascending, int max_k);
// The numbers' bits appended to out, the last byte's spare bits zero.
void AppendRice(const std::vector<uint32_t>& ascending, int k, std::string& out);

struct RiceDecoded {
  std::vector<uint32_t> numbers;
  size_t bytes = 0;  // whole bytes the code took from the input
};
// Reads count numbers at parameter k, each below bound. nullopt when the
// input ends first, a number reaches bound, or the last byte's spare bits
// are not zero.
std::optional<RiceDecoded> ReadRice(std::string_view in, size_t count, int k, uint32_t bound);

}  // namespace varnolt::engine
