#include "zip/crypt/aes.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KORBEL_AES_X86 1
#include <immintrin.h>
#endif

namespace korbel {

namespace {

// --- Tables, computed by the compiler from the field arithmetic ----------

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr std::uint8_t Xtime(std::uint8_t x) {
  return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1b : 0));
}

constexpr std::uint8_t GfMultiply(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  while (b != 0) {
    if ((b & 1) != 0) product = static_cast<std::uint8_t>(product ^ a);
    a = Xtime(a);
    b = static_cast<std::uint8_t>(b >> 1);
  }
  return product;
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int n) {
  return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

struct SubstitutionBox {
  std::uint8_t value[256];
};

// The S-box: multiplicative inverse followed by the affine transformation.
constexpr SubstitutionBox MakeSubstitutionBox() {
  // 3 generates the multiplicative group, so the inverse of 3^i is 3^(255-i).
  std::uint8_t power[255] = {};
  int logarithm[256] = {};
  std::uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = x;
    logarithm[x] = i;
    x = GfMultiply(x, 3);
  }
  SubstitutionBox box = {};
  for (int v = 0; v < 256; ++v) {
    const std::uint8_t inverse = v == 0 ? 0 : power[(255 - logarithm[v]) % 255];
    box.value[v] = static_cast<std::uint8_t>(inverse ^ Rotl8(inverse, 1) ^ Rotl8(inverse, 2) ^
                                             Rotl8(inverse, 3) ^ Rotl8(inverse, 4) ^ 0x63);
  }
  return box;
}

constexpr SubstitutionBox kSbox = MakeSubstitutionBox();
static_assert(kSbox.value[0x00] == 0x63 && kSbox.value[0x53] == 0xed && kSbox.value[0xff] == 0x16,
              "S-box does not match the cipher's definition");

constexpr std::uint32_t Rotr32(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Round tables: table[k][x] is SubBytes, ShiftRows and MixColumns applied to
// byte x standing in row k of a column, as one big-endian column word.
struct RoundTables {
  std::uint32_t table[4][256];
};

constexpr RoundTables MakeRoundTables() {
  RoundTables t = {};
  for (int x = 0; x < 256; ++x) {
    const std::uint8_t s = kSbox.value[x];
    const std::uint32_t column = (std::uint32_t{GfMultiply(s, 2)} << 24) | (std::uint32_t{s} << 16) |
                                 (std::uint32_t{s} << 8) | std::uint32_t{GfMultiply(s, 3)};
    t.table[0][x] = column;
    t.table[1][x] = Rotr32(column, 8);
    t.table[2][x] = Rotr32(column, 16);
    t.table[3][x] = Rotr32(column, 24);
  }
  return t;
}

constexpr RoundTables kRound = MakeRoundTables();

std::uint32_t LoadBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

void StoreBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t SubWord(std::uint32_t w) {
  return (std::uint32_t{kSbox.value[w >> 24]} << 24) | (std::uint32_t{kSbox.value[(w >> 16) & 0xff]} << 16) |
         (std::uint32_t{kSbox.value[(w >> 8) & 0xff]} << 8) | std::uint32_t{kSbox.value[w & 0xff]};
}

// One round's column: row r of the output column comes from column c + r.
inline std::uint32_t RoundColumn(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                                 std::uint32_t key) {
  return kRound.table[0][a >> 24] ^ kRound.table[1][(b >> 16) & 0xff] ^ kRound.table[2][(c >> 8) & 0xff] ^
         kRound.table[3][d & 0xff] ^ key;
}

// The last round has no MixColumns.
inline std::uint32_t FinalColumn(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                                 std::uint32_t key) {
  return ((std::uint32_t{kSbox.value[a >> 24]} << 24) | (std::uint32_t{kSbox.value[(b >> 16) & 0xff]} << 16) |
          (std::uint32_t{kSbox.value[(c >> 8) & 0xff]} << 8) | std::uint32_t{kSbox.value[d & 0xff]}) ^
         key;
}

void EncryptPortable(const std::uint32_t* key, unsigned rounds, const std::uint8_t* in, std::uint8_t* out) {
  std::uint32_t s0 = LoadBe32(in) ^ key[0];
  std::uint32_t s1 = LoadBe32(in + 4) ^ key[1];
  std::uint32_t s2 = LoadBe32(in + 8) ^ key[2];
  std::uint32_t s3 = LoadBe32(in + 12) ^ key[3];
  for (unsigned round = 1; round < rounds; ++round) {
    key += 4;
    const std::uint32_t t0 = RoundColumn(s0, s1, s2, s3, key[0]);
    const std::uint32_t t1 = RoundColumn(s1, s2, s3, s0, key[1]);
    const std::uint32_t t2 = RoundColumn(s2, s3, s0, s1, key[2]);
    const std::uint32_t t3 = RoundColumn(s3, s0, s1, s2, key[3]);
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  key += 4;
  StoreBe32(out, FinalColumn(s0, s1, s2, s3, key[0]));
  StoreBe32(out + 4, FinalColumn(s1, s2, s3, s0, key[1]));
  StoreBe32(out + 8, FinalColumn(s2, s3, s0, s1, key[2]));
  StoreBe32(out + 12, FinalColumn(s3, s0, s1, s2, key[3]));
}

#ifdef KORBEL_AES_X86

// Eight blocks in flight hide the latency of the round instruction.
__attribute__((target("aes,sse2"))) void EncryptWithInstructions(const std::uint8_t* roundBytes,
                                                                 unsigned rounds, const std::uint8_t* in,
                                                                 std::uint8_t* out, std::size_t count) {
  __m128i key[Aes::kMaxRounds + 1];
  for (unsigned r = 0; r <= rounds; ++r) {
    key[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(roundBytes + 16 * r));
  }
  constexpr std::size_t kLanes = 8;
  while (count >= kLanes) {
    __m128i b[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      b[i] = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * i)), key[0]);
    }
    for (unsigned r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
      for (std::size_t i = 0; i < kLanes; ++i) b[i] = _mm_aesenc_si128(b[i], key[r]);
    }
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * i), _mm_aesenclast_si128(b[i], key[rounds]));
    }
    in += 16 * kLanes;
    out += 16 * kLanes;
    count -= kLanes;
  }
  for (; count > 0; --count, in += 16, out += 16) {
    __m128i b = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), key[0]);
    for (unsigned r = 1; r < rounds; ++r) b = _mm_aesenc_si128(b, key[r]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_aesenclast_si128(b, key[rounds]));
  }
}

#endif  // KORBEL_AES_X86

}  // namespace

Aes::Aes(Engine engine) : hardware_(engine == Engine::kBest && HardwareAvailable()) {}

bool Aes::HardwareAvailable() {
#ifdef KORBEL_AES_X86
  static const bool available = __builtin_cpu_supports("aes") != 0;
  return available;
#else
  return false;
#endif
}

bool Aes::SetKey(const std::uint8_t* key, std::size_t bytes) {
  if (bytes != 16 && bytes != 24 && bytes != 32) return false;
  const unsigned keyWords = static_cast<unsigned>(bytes / 4);
  rounds_ = keyWords + 6;
  const unsigned totalWords = 4 * (rounds_ + 1);
  for (unsigned i = 0; i < keyWords; ++i) roundWords_[i] = LoadBe32(key + 4 * i);
  std::uint8_t roundConstant = 1;
  for (unsigned i = keyWords; i < totalWords; ++i) {
    std::uint32_t w = roundWords_[i - 1];
    if (i % keyWords == 0) {
      w = SubWord((w << 8) | (w >> 24)) ^ (std::uint32_t{roundConstant} << 24);
      roundConstant = Xtime(roundConstant);
    } else if (keyWords > 6 && i % keyWords == 4) {
      w = SubWord(w);
    }
    roundWords_[i] = roundWords_[i - keyWords] ^ w;
  }
  for (unsigned i = 0; i < totalWords; ++i) StoreBe32(roundBytes_ + 4 * i, roundWords_[i]);
  return true;
}

void Aes::EncryptBlock(const std::uint8_t in[kBlockSize], std::uint8_t out[kBlockSize]) const {
  EncryptBlocks(in, out, 1);
}

void Aes::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const {
#ifdef KORBEL_AES_X86
  if (hardware_) {
    EncryptWithInstructions(roundBytes_, rounds_, in, out, count);
    return;
  }
#endif
  for (; count > 0; --count, in += kBlockSize, out += kBlockSize) {
    EncryptPortable(roundWords_, rounds_, in, out);
  }
}

}  // namespace korbel
