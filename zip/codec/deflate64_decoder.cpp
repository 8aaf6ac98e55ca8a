#include "zip/codec/deflate64_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

// How the decoder is built, and why it is fast:
//
// - Input bits are consumed from the low end of a 64-bit buffer. While the
//   current input piece has 8 bytes left, a refill is one unaligned load and
//   tops the buffer up to at least 56 bits without a loop; only the last few
//   bytes of a piece, and the step to the next piece, go byte by byte.
// - Huffman codes are decoded with one table lookup on the low bits of the
//   buffer (10 bits for literals/lengths, 8 for distances); the few longer
//   codes take a second lookup in a subtable. An entry carries the symbol's
//   base value and its number of extra bits, so a length or distance costs
//   one lookup, one mask and one shift.
// - Output goes into one linear buffer that keeps the last 64 KiB before the
//   output area. A match therefore never wraps around: it is copied with
//   overlapping 8-byte words, and the buffer slides only when the area is
//   full (one write, one 64 KiB move per 128 KiB of output).
// - After the input ends the buffer is topped up with zero bytes, so the hot
//   loop needs no end test. The zeros are counted; the moment the stream
//   would have consumed one of them, the input is known to be truncated.
//   Every decoded symbol consumes at least one bit, so a hostile stream costs
//   work in proportion to its length.

namespace korbel {
namespace {

// Window geometry: [0, kHistory) holds the 64 KiB a match may reach back
// into, new output goes into [kHistory, kHistory + kOutputArea).
constexpr std::size_t kHistory = 65536;
constexpr std::size_t kOutputArea = 2 * 65536;
// A match copy moves 16 bytes per step and may write up to 15 bytes beyond
// its end; those bytes are overwritten before they are ever written out.
constexpr std::size_t kCopySlack = 32;
constexpr std::size_t kWindowSize = kHistory + kOutputArea + kCopySlack;

constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kLitlenSymbols = 288;   // 286 in use; 286 and 287 only exist in the fixed code
constexpr unsigned kMaxLitlenCodes = 286;  // the largest HLIT a dynamic block may declare
constexpr unsigned kDistSymbols = 32;      // Deflate64 uses all 32 distance codes
constexpr unsigned kPrecodeSymbols = 19;
constexpr unsigned kEndOfBlockSymbol = 256;

constexpr unsigned kLitlenRootBits = 10;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kPrecodeRootBits = 7;  // the longest precode code, so no subtables

// Largest table a complete code can need: the root table plus subtables.
// A subtable of width k hangs under one root entry and is a complete
// subtree, so it holds at least k + 1 codes; 2^k / (k + 1) grows with k, so
// the worst case spends all longer codes on subtables of the widest kind.
constexpr unsigned MaxTableSize(unsigned symbols, unsigned rootBits) {
  unsigned widest = kMaxCodeLength - rootBits;
  unsigned full = symbols / (widest + 1);
  unsigned rest = symbols % (widest + 1);
  return (1u << rootBits) + full * (1u << widest) + (rest > 0 ? 1u << (rest - 1) : 0);
}
constexpr unsigned kLitlenTableSize = MaxTableSize(kMaxLitlenCodes, kLitlenRootBits);
constexpr unsigned kDistTableSize = MaxTableSize(kDistSymbols, kDistRootBits);
constexpr unsigned kPrecodeTableSize = 1u << kPrecodeRootBits;

// A decoding table entry, 32 bits:
//   bits 31..16  value: literal byte, length base, distance base, precode
//                symbol, or for a link the index where the subtable starts
//   bit  15      kInvalid: no code of the stream maps here; the bits to
//                drop say how many bits it took to know that
//   bit  14      kLink: the code is longer than the root width; the low
//                bits 7..0 give the subtable's index width
//   bit  13      kEndOfBlock
//   bit  12      kLiteral
//   bits 11..8   codeword length; the extra bits follow right above it
//   bits  7..0   bits to drop: codeword length plus extra bits
// The symbol tables below hold entries without a codeword length; the table
// builder adds it to both length fields.
constexpr std::uint32_t kInvalid = 0x8000;
constexpr std::uint32_t kLink = 0x4000;
constexpr std::uint32_t kEndOfBlock = 0x2000;
constexpr std::uint32_t kLiteral = 0x1000;

constexpr std::uint32_t Entry(std::uint32_t value, std::uint32_t flags, std::uint32_t extraBits) {
  return value << 16 | flags | extraBits;
}

// Length codes 257..285. Code 285 is Deflate64's: base 3 with 16 extra bits
// (plain Deflate gives it the fixed length 258).
constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
// Distance codes 0..31; 30 and 31 reach the far half of the 64 KiB window.
constexpr std::uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                         49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                         2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                         7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// The order in which a dynamic block lists the precode lengths.
constexpr std::uint8_t kPrecodeOrder[kPrecodeSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

struct SymbolTables {
  std::uint32_t litlen[kLitlenSymbols];
  std::uint32_t dist[kDistSymbols];
  std::uint32_t precode[kPrecodeSymbols];
};

constexpr SymbolTables MakeSymbolTables() {
  SymbolTables t{};
  for (unsigned s = 0; s < 256; ++s) t.litlen[s] = Entry(s, kLiteral, 0);
  t.litlen[kEndOfBlockSymbol] = Entry(0, kEndOfBlock, 0);
  for (unsigned s = 257; s < 286; ++s) {
    t.litlen[s] = Entry(kLengthBase[s - 257], 0, kLengthExtra[s - 257]);
  }
  t.litlen[286] = t.litlen[287] = Entry(0, kInvalid, 0);
  for (unsigned s = 0; s < kDistSymbols; ++s) t.dist[s] = Entry(kDistBase[s], 0, kDistExtra[s]);
  for (unsigned s = 0; s < kPrecodeSymbols; ++s) t.precode[s] = Entry(s, 0, 0);
  return t;
}
constexpr SymbolTables kSymbols = MakeSymbolTables();

inline std::uint64_t LowBits(std::uint64_t bits, unsigned count) {
  return bits & ((std::uint64_t{1} << count) - 1);
}

// The value of the extra bits that follow a length or distance codeword.
inline std::uint32_t ExtraValue(std::uint64_t bits, std::uint32_t entry) {
  return static_cast<std::uint32_t>(LowBits(bits, entry & 0xFF) >> (entry >> 8 & 0xF));
}

// Written out so that the compiler turns it into one load on little-endian
// processors.
inline std::uint64_t LoadLittleEndian64(const unsigned char* p) {
  return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
         std::uint64_t{p[3]} << 24 | std::uint64_t{p[4]} << 32 | std::uint64_t{p[5]} << 40 |
         std::uint64_t{p[6]} << 48 | std::uint64_t{p[7]} << 56;
}

inline void Copy16(unsigned char* dst, const unsigned char* src) {
  std::uint64_t a;
  std::uint64_t b;
  std::memcpy(&a, src, 8);
  std::memcpy(dst, &a, 8);
  std::memcpy(&b, src + 8, 8);
  std::memcpy(dst + 8, &b, 8);
}

// The low `length` bits of `code` in reverse order.
unsigned Reversed(unsigned code, unsigned length) {
  unsigned reversed = 0;
  for (unsigned b = 0; b < length; ++b, code >>= 1) reversed = reversed << 1 | (code & 1);
  return reversed;
}

// The index bits of the subtable that starts with a code of `length` bits.
// Canonical order keeps the codes under one root prefix together, shortest
// first, and codes under later prefixes are no shorter than the longest
// under this one. So the subtable is as wide as the depth at which the
// remaining codes (`count`, by length) first fill it.
unsigned SubtableBits(const unsigned* count, unsigned length, unsigned rootBits, unsigned maxLength) {
  unsigned subBits = length - rootBits;
  int room = 1 << subBits;
  while (subBits + rootBits < maxLength) {
    room -= static_cast<int>(count[subBits + rootBits]);
    if (room <= 0) break;
    ++subBits;
    room *= 2;
  }
  return subBits;
}

// Builds the decoding table of a canonical Huffman code from its code
// lengths (0 = symbol unused), as RFC 1951 section 3.2.2 assigns the codes.
// Deflate sends codes least significant bit first, so a table index is the
// codeword bit-reversed. Answers false for lengths that make no usable
// code: over-subscribed ones, and incomplete ones except the two RFC 1951
// allows where `mayBeIncomplete` is set: no code at all (a block without
// matches) and a single code of one bit. Unused entries of such a table are
// kInvalid. `info` gives each symbol's entry without its codeword length.
bool BuildTable(const std::uint8_t* lengths, unsigned symbols, const std::uint32_t* info, unsigned rootBits,
                std::uint32_t* table, unsigned tableSize, bool mayBeIncomplete) {
  unsigned count[kMaxCodeLength + 1] = {};
  for (unsigned s = 0; s < symbols; ++s) ++count[lengths[s]];

  // Code space left after each length; negative means over-subscribed.
  int left = 1;
  unsigned used = 0;
  unsigned maxLength = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - static_cast<int>(count[len]);
    if (left < 0) return false;
    used += count[len];
    if (count[len] > 0) maxLength = len;
  }
  const unsigned rootSize = 1u << rootBits;
  if (left > 0) {
    if (!mayBeIncomplete || !(used == 0 || (used == 1 && count[1] == 1))) return false;
    // With no code, no bits are needed to know a symbol is invalid; with the
    // one-bit code "0", the bit "1" is.
    const std::uint32_t invalid = used == 0 ? kInvalid : kInvalid + (1u << 8) + 1;
    for (unsigned i = 0; i < rootSize; ++i) table[i] = invalid;
    if (used == 0) return true;
  }

  // Symbols sorted by code length, then by value: the canonical code order.
  unsigned offset[kMaxCodeLength + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) offset[len + 1] = offset[len] + count[len];
  std::uint16_t sorted[kLitlenSymbols];
  for (unsigned s = 0; s < symbols; ++s) {
    if (lengths[s] != 0) sorted[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
  }

  unsigned code = 0;  // the canonical codeword, most significant bit first
  unsigned length = 0;
  unsigned nextFree = rootSize;      // where the next subtable starts
  unsigned linkedPrefix = rootSize;  // root index of the current subtable; none yet
  unsigned subStart = 0;
  unsigned subBits = 0;
  for (unsigned i = 0; i < used; ++i) {
    const unsigned symbol = sorted[i];
    if (lengths[symbol] != length) {
      code <<= lengths[symbol] - length;
      length = lengths[symbol];
    }
    const unsigned reversed = Reversed(code, length);

    if (length <= rootBits) {
      const std::uint32_t entry = info[symbol] + (length << 8) + length;
      for (unsigned j = reversed; j < rootSize; j += 1u << length) table[j] = entry;
    } else {
      const unsigned prefix = reversed & (rootSize - 1);
      if (prefix != linkedPrefix) {
        subBits = SubtableBits(count, length, rootBits, maxLength);
        subStart = nextFree;
        nextFree += 1u << subBits;
        if (nextFree > tableSize) return false;
        table[prefix] = Entry(subStart, kLink, subBits);
        linkedPrefix = prefix;
      }
      const unsigned subLength = length - rootBits;
      const std::uint32_t entry = info[symbol] + (subLength << 8) + subLength;
      for (unsigned j = reversed >> rootBits; j < (1u << subBits); j += 1u << subLength) {
        table[subStart + j] = entry;
      }
    }
    --count[length];  // the subtable width above looks at the codes still to come
    ++code;
  }
  return true;
}

}  // namespace

struct Deflate64Decoder::Workspace {
  std::uint32_t litlen[kLitlenTableSize];
  std::uint32_t dist[kDistTableSize];
  std::uint32_t precode[kPrecodeTableSize];
  bool fixedCodesLoaded;  // litlen and dist hold the fixed code of block type 1
  unsigned char window[kWindowSize];
};

namespace {

using Workspace = Deflate64Decoder::Workspace;

// The input position. The stream's bits are taken from the low end of
// `bits`; `count` of them are valid. Bits above `count` are either zero or
// copies of the bytes at `next`, which the next refill ORs in again
// unchanged. The hot loop keeps a copy of this part in registers.
struct BitCursor {
  std::uint64_t bits = 0;
  unsigned count = 0;                   // valid bits in `bits`, 0..63
  const unsigned char* next = nullptr;  // first unread byte of the current piece
  const unsigned char* end = nullptr;   // end of the current piece

  // Tops the buffer up to 56..63 bits if the piece has 8 bytes left.
  bool RefillFast() {
    if (end - next < 8) return false;
    bits |= LoadLittleEndian64(next) << count;
    next += (63 - count) >> 3;
    count |= 56;
    return true;
  }

  void Drop(unsigned n) {
    bits >>= n;
    count -= n;
  }

  std::uint32_t Take(unsigned n) {
    const auto value = static_cast<std::uint32_t>(LowBits(bits, n));
    Drop(n);
    return value;
  }
};

// The whole input side: the cursor, the read callback and the end of input.
struct BitInput : BitCursor {
  unsigned padBytes = 0;  // zero bytes added after the input ended; they sit on top of `bits`
  bool atEnd = false;     // the read callback answered 0 or failed; it is not called again
  bool readFailed = false;
  unsigned long long fetched = 0;  // bytes the read callback has delivered
  InflateRead read = nullptr;
  void* context = nullptr;

  // Tops the buffer up to 56..63 bits. Answers false once the stream has
  // consumed bits past the end of the input.
  bool Refill() { return RefillFast() || RefillSlowly(); }

  bool RefillSlowly();

  // Asks the read callback for the next piece; false at the end of input.
  bool FetchPiece() {
    if (atEnd) return false;
    const unsigned char* data = nullptr;
    const long size = read(context, &data);
    if (size < 0 || (size > 0 && data == nullptr)) {
      readFailed = true;
      atEnd = true;
      return false;
    }
    if (size == 0) {
      atEnd = true;
      return false;
    }
    next = data;
    end = data + size;
    fetched += static_cast<unsigned long>(size);
    return true;
  }

  bool PaddingConsumed() const { return count < padBytes * 8; }

  // The result for a stream that needs bytes past the end of its input.
  Deflate64Result Ended() const {
    return readFailed ? Deflate64Result::kReadFailed : Deflate64Result::kTruncated;
  }

  // The result for a stream found broken: a stream that ran into the zero
  // padding was cut short (or its reading failed), whatever it decoded to.
  Deflate64Result Broken() const { return PaddingConsumed() ? Ended() : Deflate64Result::kDataError; }

  // Compressed bytes the stream has used so far; whole bytes still in the
  // buffer, and the rest of the current piece, are not counted.
  unsigned long long Consumed() const {
    const unsigned buffered = count / 8;
    const unsigned unread = buffered > padBytes ? buffered - padBytes : 0;
    return fetched - static_cast<unsigned long long>(end - next) - unread;
  }
};

bool BitInput::RefillSlowly() {
  if (PaddingConsumed()) return false;
  while (count < 56) {
    if (next == end && !FetchPiece()) {
      ++padBytes;  // the bits above `count` are already zero
    } else {
      bits |= std::uint64_t{*next++} << count;
    }
    count += 8;
  }
  return true;
}

// The output side: the window buffer, of which [base, out) is output and
// [flushed, out) has not been handed to the write callback yet.
struct OutputWindow {
  unsigned char* base = nullptr;
  unsigned char* out = nullptr;
  unsigned char* flushed = nullptr;
  unsigned char* limit = nullptr;  // end of the output area
  InflateWrite write = nullptr;
  void* context = nullptr;
  unsigned long long written = 0;

  bool Flush() {
    if (out == flushed) return true;
    const auto size = static_cast<unsigned long>(out - flushed);
    if (write(context, flushed, size) != 0) return false;
    written += size;
    flushed = out;
    return true;
  }

  // Called with the output area full: writes it out and keeps its last
  // 64 KiB as the history of what follows.
  bool Slide() {
    if (!Flush()) return false;
    static_assert(kOutputArea >= kHistory, "the history moves without overlap");
    std::memcpy(base, out - kHistory, kHistory);
    out = base + kHistory;
    flushed = out;
    return true;
  }

  // Copies a match that does not fit into the output area, sliding the
  // window as often as needed. The distance was checked against the output.
  bool CopyWithSlides(std::size_t distance, std::size_t length) {
    while (length > 0) {
      if (out == limit && !Slide()) return false;
      std::size_t piece = static_cast<std::size_t>(limit - out);
      if (piece > length) piece = length;
      const unsigned char* src = out - distance;
      for (std::size_t i = 0; i < piece; ++i) out[i] = src[i];  // byte order matters on overlap
      out += piece;
      length -= piece;
    }
    return true;
  }
};

// One run of the decoder over one stream.
class Inflater {
 public:
  Inflater(Workspace& workspace, BitInput& in, OutputWindow& window)
      : ws_(workspace), in_(in), window_(window) {}

  Deflate64Result Decode();

 private:
  Deflate64Result CopyStoredBlock();
  Deflate64Result LoadFixedCodes();
  Deflate64Result ReadDynamicCodes();
  Deflate64Result DecodeCompressedBlock();

  Workspace& ws_;
  BitInput& in_;
  OutputWindow& window_;
};

Deflate64Result Inflater::Decode() {
  for (;;) {
    if (!in_.Refill()) return in_.Broken();
    const bool final = in_.Take(1) != 0;     // BFINAL
    const std::uint32_t type = in_.Take(2);  // BTYPE: 0 stored, 1 fixed, 2 dynamic, 3 reserved
    Deflate64Result result;
    switch (type) {
      case 0:
        result = CopyStoredBlock();
        break;
      case 1:
        result = LoadFixedCodes();
        if (result == Deflate64Result::kStreamEnd) result = DecodeCompressedBlock();
        break;
      case 2:
        result = ReadDynamicCodes();
        if (result == Deflate64Result::kStreamEnd) result = DecodeCompressedBlock();
        break;
      default:
        return in_.Broken();
    }
    // kStreamEnd from a block step means: this block ended properly.
    if (result != Deflate64Result::kStreamEnd) return result;
    if (final) break;
  }
  if (in_.PaddingConsumed()) return in_.Broken();
  return window_.Flush() ? Deflate64Result::kStreamEnd : Deflate64Result::kWriteFailed;
}

Deflate64Result Inflater::CopyStoredBlock() {
  // The block starts at the next byte boundary with LEN and its complement NLEN.
  in_.Drop(in_.count % 8);
  if (in_.count < 32 && !in_.Refill()) return in_.Broken();
  const std::uint32_t length = in_.Take(16);
  const std::uint32_t complement = in_.Take(16);
  if (in_.PaddingConsumed() || length != (~complement & 0xFFFF)) return in_.Broken();

  std::uint32_t left = length;
  // Whole bytes still in the bit buffer come first ...
  while (left > 0 && in_.count > 0) {
    if (in_.count <= in_.padBytes * 8) return in_.Ended();
    if (window_.out == window_.limit && !window_.Slide()) return Deflate64Result::kWriteFailed;
    *window_.out++ = static_cast<unsigned char>(in_.Take(8));
    --left;
  }
  if (left == 0) return Deflate64Result::kStreamEnd;
  // ... then the rest straight from the input pieces. The buffer is empty
  // now; clear it so that stale copies of skipped bytes do not resurface.
  in_.bits = 0;
  while (left > 0) {
    if (in_.next == in_.end && !in_.FetchPiece()) return in_.Ended();
    if (window_.out == window_.limit && !window_.Slide()) return Deflate64Result::kWriteFailed;
    std::size_t piece = static_cast<std::size_t>(in_.end - in_.next);
    const auto room = static_cast<std::size_t>(window_.limit - window_.out);
    if (piece > room) piece = room;
    if (piece > left) piece = left;
    std::memcpy(window_.out, in_.next, piece);
    window_.out += piece;
    in_.next += piece;
    left -= static_cast<std::uint32_t>(piece);
  }
  return Deflate64Result::kStreamEnd;
}

Deflate64Result Inflater::LoadFixedCodes() {
  if (ws_.fixedCodesLoaded) return Deflate64Result::kStreamEnd;
  std::uint8_t lengths[kLitlenSymbols];
  std::memset(lengths, 8, 144);
  std::memset(lengths + 144, 9, 256 - 144);
  std::memset(lengths + 256, 7, 280 - 256);
  std::memset(lengths + 280, 8, kLitlenSymbols - 280);
  BuildTable(lengths, kLitlenSymbols, kSymbols.litlen, kLitlenRootBits, ws_.litlen, kLitlenTableSize, false);
  std::memset(lengths, 5, kDistSymbols);
  BuildTable(lengths, kDistSymbols, kSymbols.dist, kDistRootBits, ws_.dist, kDistTableSize, false);
  ws_.fixedCodesLoaded = true;
  return Deflate64Result::kStreamEnd;
}

Deflate64Result Inflater::ReadDynamicCodes() {
  ws_.fixedCodesLoaded = false;
  if (!in_.Refill()) return in_.Broken();
  const unsigned litlenCount = 257 + in_.Take(5);  // HLIT
  const unsigned distCount = 1 + in_.Take(5);      // HDIST
  const unsigned precodeCount = 4 + in_.Take(4);   // HCLEN
  if (litlenCount > kMaxLitlenCodes) return in_.Broken();

  std::uint8_t precodeLengths[kPrecodeSymbols] = {};
  for (unsigned i = 0; i < precodeCount; ++i) {
    if (in_.count < 3 && !in_.Refill()) return in_.Broken();
    precodeLengths[kPrecodeOrder[i]] = static_cast<std::uint8_t>(in_.Take(3));
  }
  if (!BuildTable(precodeLengths, kPrecodeSymbols, kSymbols.precode, kPrecodeRootBits, ws_.precode,
                  kPrecodeTableSize, false)) {
    return in_.Broken();
  }

  // Litlen and distance code lengths form one sequence; repeats may run
  // from one into the other, but not past its end.
  std::uint8_t lengths[kMaxLitlenCodes + kDistSymbols] = {};
  const unsigned total = litlenCount + distCount;
  for (unsigned i = 0; i < total;) {
    if (in_.count < kPrecodeRootBits + 7 && !in_.Refill()) return in_.Broken();
    const std::uint32_t entry = ws_.precode[in_.bits & (kPrecodeTableSize - 1)];
    in_.Drop(entry & 0xFF);
    const std::uint32_t symbol = entry >> 16;
    if (symbol < 16) {
      lengths[i++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    std::uint8_t value = 0;
    unsigned repeat;
    if (symbol == 16) {  // repeat the previous length 3..6 times
      if (i == 0) return in_.Broken();
      value = lengths[i - 1];
      repeat = 3 + in_.Take(2);
    } else if (symbol == 17) {  // 3..10 zeros
      repeat = 3 + in_.Take(3);
    } else {  // 18: 11..138 zeros
      repeat = 11 + in_.Take(7);
    }
    if (repeat > total - i) return in_.Broken();
    std::memset(lengths + i, value, repeat);
    i += repeat;
  }
  if (in_.PaddingConsumed()) return in_.Broken();

  // A block needs its end-of-block code; a block of literals only may have
  // no distance code at all.
  if (lengths[kEndOfBlockSymbol] == 0 ||
      !BuildTable(lengths, litlenCount, kSymbols.litlen, kLitlenRootBits, ws_.litlen, kLitlenTableSize,
                  true) ||
      !BuildTable(lengths + litlenCount, distCount, kSymbols.dist, kDistRootBits, ws_.dist, kDistTableSize,
                  true)) {
    return in_.Broken();
  }
  return Deflate64Result::kStreamEnd;
}

// Refill for the hot loop: the cursor `c` lives in registers, `in` holds
// the rest and takes the cursor only for the slow path.
inline bool Refill(BitCursor& c, BitInput& in) {
  if (c.RefillFast()) return true;
  static_cast<BitCursor&>(in) = c;
  const bool ok = in.RefillSlowly();
  c = in;
  return ok;
}

// The hot loop. Input and output positions are copied into locals that no
// pointer reaches, so the compiler can keep them in registers: stores into
// the window are byte stores, which may alias anything a pointer reaches.
Deflate64Result Inflater::DecodeCompressedBlock() {
  const std::uint32_t* const litlenTable = ws_.litlen;
  const std::uint32_t* const distTable = ws_.dist;
  BitCursor c = in_;
  unsigned char* const base = window_.base;
  unsigned char* const limit = window_.limit;
  unsigned char* out = window_.out;
  enum { kEndOfBlockSeen, kBroken, kWriteRefused } exit;

  for (;;) {
    if (!Refill(c, in_)) {
      exit = kBroken;
      break;
    }
    std::uint32_t entry = litlenTable[c.bits & ((1u << kLitlenRootBits) - 1)];
    if (entry & kLink) {
      c.Drop(kLitlenRootBits);
      entry = litlenTable[(entry >> 16) + LowBits(c.bits, entry & 0xFF)];
    }
    if (entry & kLiteral) {
      c.Drop(entry & 0xFF);
      if (out == limit) {
        window_.out = out;
        if (!window_.Slide()) {
          exit = kWriteRefused;
          break;
        }
        out = window_.out;
      }
      *out++ = static_cast<unsigned char>(entry >> 16);
      continue;
    }
    if (entry & (kEndOfBlock | kInvalid)) {
      // Dropping an invalid code's bits first lets Broken() tell a bad code
      // from one that only looks bad because the input ended inside it.
      c.Drop(entry & 0xFF);
      exit = entry & kInvalid ? kBroken : kEndOfBlockSeen;
      break;
    }

    // A match: length (with up to 16 extra bits), then distance.
    const std::size_t length = (entry >> 16) + ExtraValue(c.bits, entry);
    c.Drop(entry & 0xFF);
    if (c.count < 32 && !Refill(c, in_)) {
      exit = kBroken;
      break;
    }
    entry = distTable[c.bits & ((1u << kDistRootBits) - 1)];
    if (entry & kLink) {
      c.Drop(kDistRootBits);
      entry = distTable[(entry >> 16) + LowBits(c.bits, entry & 0xFF)];
    }
    const std::size_t distance = (entry >> 16) + ExtraValue(c.bits, entry);
    c.Drop(entry & 0xFF);
    // An invalid entry has no value; a distance reaching before the
    // stream's start is as bad.
    if ((entry & kInvalid) || distance > static_cast<std::size_t>(out - base)) {
      exit = kBroken;
      break;
    }

    if (length <= static_cast<std::size_t>(limit - out)) {
      unsigned char* dst = out;
      const unsigned char* src = out - distance;
      out += length;
      if (distance >= 8) {
        // Each 8-byte word is read after the word `distance` bytes before
        // it was written, so overlapping matches repeat correctly.
        do {
          Copy16(dst, src);
          dst += 16;
          src += 16;
        } while (dst < out);
      } else if (distance == 1) {
        std::memset(dst, *src, length);
      } else {
        while (dst < out) *dst++ = *src++;
      }
    } else {
      window_.out = out;
      if (!window_.CopyWithSlides(distance, length)) {
        exit = kWriteRefused;
        break;
      }
      out = window_.out;
    }
  }
  window_.out = out;
  static_cast<BitCursor&>(in_) = c;
  switch (exit) {
    case kEndOfBlockSeen:
      return Deflate64Result::kStreamEnd;
    case kWriteRefused:
      return Deflate64Result::kWriteFailed;
    default:
      return in_.Broken();
  }
}

}  // namespace

Deflate64Decoder::Deflate64Decoder() = default;
Deflate64Decoder::~Deflate64Decoder() = default;

Deflate64Result Deflate64Decoder::Run(InflateRead read, void* in, InflateWrite write, void* out,
                                      unsigned long long* bytesIn, unsigned long long* bytesOut) {
  if (bytesIn != nullptr) *bytesIn = 0;
  if (bytesOut != nullptr) *bytesOut = 0;
  if (!workspace_) {
    workspace_.reset(new (std::nothrow) Workspace);
    if (!workspace_) return Deflate64Result::kNoMemory;
  }
  workspace_->fixedCodesLoaded = false;

  BitInput input;
  input.read = read;
  input.context = in;
  OutputWindow window;
  window.base = workspace_->window;
  window.out = window.base;
  window.flushed = window.base;
  window.limit = window.base + kHistory + kOutputArea;
  window.write = write;
  window.context = out;

  Inflater inflater(*workspace_, input, window);
  const Deflate64Result result = inflater.Decode();
  if (bytesIn != nullptr) *bytesIn = input.Consumed();
  if (bytesOut != nullptr) *bytesOut = window.written;
  return result;
}

}  // namespace korbel
