#include "engine/feature_hash.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace varnolt::engine {
namespace {

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

// A second multiplier gives the digest's second lane its own mixing.
constexpr uint64_t kOtherPrime = 0x9e3779b97f4a7c15ULL;

uint64_t Fnv1a(std::string_view text, uint64_t state, uint64_t prime = kFnvPrime) {
  for (unsigned char c : text) {
    state ^= c;
    state *= prime;
  }
  return state;
}

// The splitmix64 finalizer.
uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

void PutLittleEndian(uint64_t value, uint8_t* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

uint64_t TokenId(std::string_view token) { return Mix(Fnv1a(token, kFnvOffset)); }

void TokenHasher::Update(std::string_view text) { state_ = Fnv1a(text, state_); }

void TokenHasher::UpdateFolded(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') c += 32;
    state_ = (state_ ^ c) * kFnvPrime;
    // U+00C0..U+00DE except U+00D7: the Latin-1 capitals, folded like FoldCase does.
    if (c == 0xC3 && i + 1 < text.size()) {
      auto next = static_cast<unsigned char>(text[++i]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) next += 0x20;
      state_ = (state_ ^ next) * kFnvPrime;
    }
  }
}

uint64_t TokenHasher::Finish() const { return Mix(state_); }

namespace {

DigestBytes DigestOf(std::string_view header, std::string_view body) {
  // Two independent 64-bit lanes; the lengths keep "ab"+"c" apart from "a"+"bc".
  uint64_t a = Fnv1a(body, Fnv1a(header, kFnvOffset) ^ header.size());
  uint64_t b = Fnv1a(body, Fnv1a(header, Mix(kFnvOffset), kOtherPrime) ^ Mix(header.size()), kOtherPrime);
  a = Mix(a ^ body.size());
  b = Mix(b + kOtherPrime * (body.size() + 1));
  DigestBytes digest{};
  PutLittleEndian(a, digest.data());
  PutLittleEndian(b, digest.data() + 8);
  return digest;
}

std::string WithLfEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string WithCrLfEnds(std::string_view lf_text) {
  std::string out;
  out.reserve(lf_text.size() + lf_text.size() / 32);
  for (char c : lf_text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Fields that a delivery prepends on the way in (each server its own trace,
// the envelope's addresses) or that this filter stamps: the same message
// delivered twice, or read back after its verdict, differs in them alone.
bool IsDeliveryField(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "received",     "return-path",     "delivered-to",   "x-original-to",          "x-delivered-to",
      "envelope-to",  "x-envelope-to",   "x-envelope-from", "x-rcpt-to",             "received-spf",
      "x-varnolt",    "authentication-results", "arc-seal", "arc-message-signature", "arc-authentication-results"};
  for (std::string_view known : kNames) {
    if (name.size() == known.size() &&
        std::equal(name.begin(), name.end(), known.begin(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
      return true;
    }
  }
  return false;
}

// The header with LF ends without the delivery's fields (and their
// continuation lines), up to the blank line that ends it; the rest as it is.
std::string WithoutDeliveryFields(std::string_view lf_header) {
  std::string out;
  out.reserve(lf_header.size());
  bool dropping = false;
  size_t pos = 0;
  while (pos < lf_header.size()) {
    size_t end = lf_header.find('\n', pos);
    end = end == std::string_view::npos ? lf_header.size() : end + 1;
    const std::string_view line = lf_header.substr(pos, end - pos);
    if (line == "\n") {
      out.append(lf_header.substr(pos));
      break;
    }
    pos = end;
    const bool continuation = line[0] == ' ' || line[0] == '\t';
    if (!continuation) {
      const size_t colon = line.find(':');
      dropping = colon != std::string_view::npos && IsDeliveryField(line.substr(0, colon));
    }
    if (!dropping) out.append(line);
  }
  return out;
}

void AddEarlier(MessageDigest& digest, const DigestBytes& key) {
  if (key == digest.key) return;
  for (const DigestBytes& known : digest.earlier) {
    if (known == key) return;
  }
  digest.earlier.push_back(key);
}

}  // namespace

MessageDigest DigestMessage(std::string_view header, std::string_view body) {
  const std::string lf_header = WithLfEnds(header);
  const std::string lf_body = WithLfEnds(body);
  MessageDigest digest;
  // Each message teaches once, however many servers handed it on and
  // however often it was delivered.
  digest.key = DigestOf(WithoutDeliveryFields(lf_header), lf_body);
  // Learned before the delivery's fields were left out: the LF form hashes
  // exactly as that engine hashed LF mail, so keys it stored are found.
  AddEarlier(digest, DigestOf(lf_header, lf_body));
  AddEarlier(digest, DigestOf(WithCrLfEnds(lf_header), WithCrLfEnds(lf_body)));
  AddEarlier(digest, DigestOf(header, body));
  return digest;
}

}  // namespace varnolt::engine
