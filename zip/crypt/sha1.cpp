#include "zip/crypt/sha1.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KORBEL_SHA1_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace korbel {

namespace {

constexpr std::uint32_t kInitialState[5] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u, 0xc3d2e1f0u};

inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t LoadBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// --- Portable compression -------------------------------------------------

// The round function and constant of each 20-step phase.
template <int Phase>
inline std::uint32_t Mix(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  if constexpr (Phase == 0) {
    return d ^ (b & (c ^ d));  // choose
  } else if constexpr (Phase == 2) {
    return (b & c) | (d & (b | c));  // majority
  } else {
    return b ^ c ^ d;  // parity
  }
}

constexpr std::uint32_t kPhaseConstant[4] = {0x5a827999u, 0x6ed9eba1u, 0x8f1bbcdcu, 0xca62c1d6u};

// One step with the five working variables renamed instead of moved: the
// caller rotates the argument order, so only e and b change here. The
// message schedule lives in a 16-word ring, extended as the steps need it.
template <int Phase>
inline void Step(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d, std::uint32_t& e,
                 std::uint32_t* w, int i) {
  std::uint32_t word;
  if (i < 16) {
    word = w[i];
  } else {
    word = Rotl(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
    w[i & 15] = word;
  }
  e += Rotl(a, 5) + Mix<Phase>(b, c, d) + kPhaseConstant[Phase] + word;
  b = Rotl(b, 30);
}

template <int Phase>
inline void Phase20(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, std::uint32_t& e,
                    std::uint32_t* w) {
  for (int i = 20 * Phase; i < 20 * Phase + 20; i += 5) {
    Step<Phase>(a, b, c, d, e, w, i);
    Step<Phase>(e, a, b, c, d, w, i + 1);
    Step<Phase>(d, e, a, b, c, w, i + 2);
    Step<Phase>(c, d, e, a, b, w, i + 3);
    Step<Phase>(b, c, d, e, a, w, i + 4);
  }
}

void CompressPortable(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += Sha1::kBlockSize) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBe32(blocks + 4 * i);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    Phase20<0>(a, b, c, d, e, w);
    Phase20<1>(a, b, c, d, e, w);
    Phase20<2>(a, b, c, d, e, w);
    Phase20<3>(a, b, c, d, e, w);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

#ifdef KORBEL_SHA1_X86

// --- Compression with the SHA instructions --------------------------------
//
// A vector holds four message words with the first in the highest lane, and
// the working variables A..D likewise; E travels in the highest lane of the
// value added to the message words. Each group below is four steps.

#define KORBEL_SHA1_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Group G (1..19): extends the schedule when it runs past the 16 loaded
// words, derives E from A of four steps back, and runs the four steps.
template <int G>
KORBEL_SHA1_TARGET __attribute__((always_inline)) inline void InstructionGroup(__m128i& abcd,
                                                                               __m128i& previous,
                                                                               __m128i* m) {
  if constexpr (G >= 4) {
    m[G % 4] = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(m[G % 4], m[(G + 1) % 4]), m[(G + 2) % 4]),
                                  m[(G + 3) % 4]);
  }
  const __m128i eWords = _mm_sha1nexte_epu32(previous, m[G % 4]);
  previous = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, eWords, G / 5);
}

template <int... G>
KORBEL_SHA1_TARGET __attribute__((always_inline)) inline void InstructionGroups(
    __m128i& abcd, __m128i& previous, __m128i* m, std::integer_sequence<int, G...>) {
  (InstructionGroup<G + 1>(abcd, previous, m), ...);
}

KORBEL_SHA1_TARGET void CompressWithInstructions(std::uint32_t state[5], const std::uint8_t* blocks,
                                                 std::size_t count) {
  // Reverses all 16 bytes: big-endian words, first word in the highest lane.
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count > 0; --count, blocks += Sha1::kBlockSize) {
    const __m128i abcdStart = abcd;
    const __m128i eStart = e;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
    }
    __m128i previous = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e, m[0]), 0);
    InstructionGroups(abcd, previous, m, std::make_integer_sequence<int, 19>());
    e = _mm_sha1nexte_epu32(previous, eStart);
    abcd = _mm_add_epi32(abcd, abcdStart);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

#undef KORBEL_SHA1_TARGET

#endif  // KORBEL_SHA1_X86

}  // namespace

Sha1::Sha1(Engine engine) : compress_(CompressPortable) {
#ifdef KORBEL_SHA1_X86
  if (engine == Engine::kBest && HardwareAvailable()) compress_ = CompressWithInstructions;
#else
  (void)engine;
#endif
  Reset();
}

bool Sha1::HardwareAvailable() {
#ifdef KORBEL_SHA1_X86
  // Asked through CPUID (leaf 7: SHA, leaf 1: SSE4.1) because not every
  // compiler's __builtin_cpu_supports knows the name "sha".
  static const bool available = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0 || (b & bit_SHA) == 0) return false;
    return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_SSE4_1) != 0;
  }();
  return available;
#else
  return false;
#endif
}

bool Sha1::UsesHardware() const { return compress_ != CompressPortable; }

void Sha1::Reset() {
  std::memcpy(state_, kInitialState, sizeof state_);
  length_ = 0;
  buffered_ = 0;
}

void Sha1::Update(const std::uint8_t* data, std::size_t length) {
  if (length == 0) return;
  length_ += length;
  if (buffered_ > 0) {
    const std::size_t take = std::min(length, kBlockSize - buffered_);
    std::memcpy(buffer_ + buffered_, data, take);
    buffered_ += take;
    data += take;
    length -= take;
    if (buffered_ < kBlockSize) return;
    compress_(state_, buffer_, 1);
    buffered_ = 0;
  }
  const std::size_t blocks = length / kBlockSize;
  if (blocks > 0) {
    compress_(state_, data, blocks);
    data += blocks * kBlockSize;
    length -= blocks * kBlockSize;
  }
  std::memcpy(buffer_, data, length);
  buffered_ = length;
}

void Sha1::Final(std::uint8_t digest[kDigestSize]) {
  const std::uint64_t bits = length_ * 8;
  // The 0x80 marker, zeros up to 8 bytes short of a block end, the bit length.
  std::uint8_t padding[2 * kBlockSize] = {0x80};
  const std::size_t padLength = (buffered_ < kBlockSize - 8 ? kBlockSize : 2 * kBlockSize) - buffered_;
  for (int i = 0; i < 8; ++i) {
    padding[padLength - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  Update(padding, padLength);
  for (int i = 0; i < 5; ++i) {
    digest[4 * i] = static_cast<std::uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<std::uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<std::uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<std::uint8_t>(state_[i]);
  }
  Reset();
}

}  // namespace korbel
