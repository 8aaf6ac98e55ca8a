#include "zip/codec/deflate64_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace korbel {

std::ostream& operator<<(std::ostream& os, Deflate64Result result) {
  static const char* const kNames[] = {"kStreamEnd",   "kDataError", "kReadFailed",
                                       "kWriteFailed", "kNoMemory",  "kTruncated"};
  return os << kNames[static_cast<int>(result)];
}

namespace {

using Bytes = std::vector<unsigned char>;

// Hands a byte vector to the decoder in pieces of `piece` bytes. Read call
// number `failAtCall` (counting from 0) fails; -1 never.
struct Source {
  const Bytes* data = nullptr;
  std::size_t pos = 0;
  std::size_t piece = 16384;
  int failAtCall = -1;
  int calls = 0;
  int callsAfterEnd = 0;  // calls made after the source had answered 0

  static long Read(void* context, const unsigned char** out) {
    auto& self = *static_cast<Source*>(context);
    if (self.calls++ == self.failAtCall) return -1;
    std::size_t n = self.data->size() - self.pos;
    if (n == 0) {
      ++self.callsAfterEnd;
      return 0;
    }
    if (n > self.piece) n = self.piece;
    *out = self.data->data() + self.pos;
    self.pos += n;
    return static_cast<long>(n);
  }
};

// Collects output; refuses any write that would take it past `capacity`.
struct Sink {
  Bytes data;
  std::size_t capacity = SIZE_MAX;

  static int Write(void* context, const unsigned char* bytes, unsigned long size) {
    auto& self = *static_cast<Sink*>(context);
    if (size == 0 || size > self.capacity - self.data.size()) return 1;
    self.data.insert(self.data.end(), bytes, bytes + size);
    return 0;
  }
};

struct Decoded {
  Deflate64Result result;
  Bytes output;
  unsigned long long bytesIn;
  unsigned long long bytesOut;
};

Decoded Decode(const Bytes& stream, std::size_t piece = 16384, Deflate64Decoder* decoder = nullptr) {
  Deflate64Decoder own;
  Source source;
  source.data = &stream;
  source.piece = piece;
  Sink sink;
  Decoded d{};
  d.result =
      (decoder ? *decoder : own).Run(Source::Read, &source, Sink::Write, &sink, &d.bytesIn, &d.bytesOut);
  d.output = std::move(sink.data);
  return d;
}

// Writes a Deflate bit stream by hand.
class BitWriter {
 public:
  // Header fields and extra bits go least significant bit first.
  BitWriter& Bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) PutBit(value >> i & 1);
    return *this;
  }
  // Huffman codewords go most significant bit first.
  BitWriter& Code(std::uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) PutBit(code >> i & 1);
    return *this;
  }
  BitWriter& Align() {
    while (bit_ != 0) PutBit(0);
    return *this;
  }
  BitWriter& Raw(const Bytes& bytes) {
    Align();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  void PutBit(unsigned b) {
    if (bit_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<unsigned char>(bytes_.back() | b << bit_);
    bit_ = (bit_ + 1) % 8;
  }
  Bytes bytes_;
  unsigned bit_ = 0;
};

// The fixed code of block type 1 (RFC 1951, 3.2.6).
void FixedSymbol(BitWriter& w, unsigned symbol) {
  if (symbol < 144) {
    w.Code(0x30 + symbol, 8);
  } else if (symbol < 256) {
    w.Code(0x190 + symbol - 144, 9);
  } else if (symbol < 280) {
    w.Code(symbol - 256, 7);
  } else {
    w.Code(0xC0 + symbol - 280, 8);
  }
}

// A match in a fixed block, given as its codes and extra-bit values.
void FixedMatch(BitWriter& w, unsigned lengthSymbol, unsigned lengthExtra, unsigned lengthExtraBits,
                unsigned distSymbol, unsigned distExtra, unsigned distExtraBits) {
  FixedSymbol(w, lengthSymbol);
  w.Bits(lengthExtra, lengthExtraBits);
  w.Code(distSymbol, 5);
  w.Bits(distExtra, distExtraBits);
}

// Stored blocks of `data`, none final, each at most 65535 bytes.
void StoredBlocks(BitWriter& w, const Bytes& data) {
  for (std::size_t pos = 0; pos < data.size();) {
    const std::size_t n = std::min<std::size_t>(65535, data.size() - pos);
    w.Bits(0, 1);  // BFINAL: no
    w.Bits(0, 2);  // BTYPE: stored
    w.Align();
    w.Bits(static_cast<std::uint32_t>(n), 16);            // LEN
    w.Bits(static_cast<std::uint32_t>(~n & 0xFFFF), 16);  // NLEN
    w.Raw(Bytes(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n)));
    pos += n;
  }
}

// Canonical codewords for code lengths (RFC 1951, 3.2.2), indexed by symbol.
std::vector<std::uint32_t> CanonicalCodes(const std::vector<unsigned>& lengths) {
  unsigned count[16] = {};
  for (unsigned len : lengths) ++count[len];
  count[0] = 0;
  std::uint32_t next[16] = {};
  std::uint32_t code = 0;
  for (unsigned len = 1; len < 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<std::uint32_t> codes(lengths.size());
  for (std::size_t s = 0; s < lengths.size(); ++s) {
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  }
  return codes;
}

// Header of a dynamic block whose code lengths are sent one by one with a
// precode that gives the 16 length values 4 bits each (and no repeat codes).
void DynamicHeader(BitWriter& w, bool final, const std::vector<unsigned>& litlen,
                   const std::vector<unsigned>& dist) {
  w.Bits(final ? 1 : 0, 1);                                    // BFINAL
  w.Bits(2, 2);                                                // BTYPE: dynamic
  w.Bits(static_cast<std::uint32_t>(litlen.size() - 257), 5);  // HLIT
  w.Bits(static_cast<std::uint32_t>(dist.size() - 1), 5);      // HDIST
  w.Bits(19 - 4, 4);                                           // HCLEN: all 19 precode lengths
  // Precode lengths in their sending order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1 15.
  for (unsigned symbol : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15}) {
    w.Bits(symbol < 16 ? 4 : 0, 3);
  }
  // With 16 codes of length 4, the precode codeword of length value v is v.
  for (unsigned len : litlen) w.Code(len, 4);
  for (unsigned len : dist) w.Code(len, 4);
}

std::vector<unsigned> Lengths(std::size_t n, std::initializer_list<std::pair<unsigned, unsigned>> set) {
  std::vector<unsigned> v(n, 0);
  for (auto [symbol, len] : set) v[symbol] = len;
  return v;
}

const std::vector<unsigned> kTwoLiterals =  // 'a', 'b', end of block, length 257: complete
    Lengths(258, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}});

// What a Deflate64 match produces, byte by byte, as the format defines it.
void ReferenceCopy(Bytes& out, std::size_t length, std::size_t distance) {
  for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

Bytes PseudoRandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

TEST(Deflate64DecoderTest, StoredAndFixedBlocksDecode) {
  BitWriter w;
  StoredBlocks(w, Bytes{'h', 'e', 'l', 'l', 'o'});
  w.Bits(1, 1);  // BFINAL
  w.Bits(1, 2);  // BTYPE: fixed
  FixedSymbol(w, ' ');
  FixedSymbol(w, 'x');
  FixedMatch(w, 257, 0, 0, 5, 0, 1);  // length 3, distance 7 + 0: "hel"
  FixedSymbol(w, 256);                // end of block
  const Decoded d = Decode(w.bytes());
  EXPECT_EQ(d.result, Deflate64Result::kStreamEnd);
  EXPECT_EQ(std::string(d.output.begin(), d.output.end()), "hello xhel");
  EXPECT_EQ(d.bytesIn, w.bytes().size());
  EXPECT_EQ(d.bytesOut, 10u);
}

// The Deflate64 length and distance codes, in fixed blocks after stored
// history, checked against a byte-by-byte copy.
struct MatchCase {
  const char* name;
  std::size_t history;
  unsigned lengthSymbol, lengthExtra, lengthExtraBits;
  unsigned distSymbol, distExtra, distExtraBits;
  unsigned repeat;               // the same match this many times
  std::size_t length, distance;  // what the codes above mean
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class Deflate64MatchTest : public testing::TestWithParam<MatchCase> {};

TEST_P(Deflate64MatchTest, CopiesAsTheFormatDefines) {
  const MatchCase& c = GetParam();
  const Bytes history = PseudoRandomBytes(c.history, 7);
  BitWriter w;
  StoredBlocks(w, history);
  w.Bits(1, 1);  // BFINAL
  w.Bits(1, 2);  // BTYPE: fixed
  for (unsigned i = 0; i < c.repeat; ++i) {
    FixedMatch(w, c.lengthSymbol, c.lengthExtra, c.lengthExtraBits, c.distSymbol, c.distExtra,
               c.distExtraBits);
  }
  FixedSymbol(w, 256);
  Bytes expected = history;
  for (unsigned i = 0; i < c.repeat; ++i) ReferenceCopy(expected, c.length, c.distance);

  const Decoded d = Decode(w.bytes());
  ASSERT_EQ(d.result, Deflate64Result::kStreamEnd);
  EXPECT_EQ(d.bytesOut, expected.size());
  EXPECT_TRUE(d.output == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Extensions, Deflate64MatchTest,
    testing::Values(
        // Code 285 is base 3 with 16 extra bits (in plain Deflate: 258, no extra bits).
        MatchCase{"Code285Shortest", 100, 285, 0, 16, 0, 0, 0, 1, 3, 1},
        MatchCase{"Code285Longest", 100, 285, 0xFFFF, 16, 0, 0, 0, 1, 65538, 1},
        MatchCase{"Code285Middle", 70000, 285, 1000, 16, 29, 8191, 13, 1, 1003, 32768},
        // Distance codes 30 and 31 with 14 extra bits.
        MatchCase{"Code30Nearest", 70000, 284, 31, 5, 30, 0, 14, 1, 258, 32769},
        MatchCase{"Code30Farthest", 70000, 284, 0, 5, 30, 0x3FFF, 14, 1, 227, 49152},
        MatchCase{"Code31Nearest", 70000, 257, 0, 0, 31, 0, 14, 1, 3, 49153},
        MatchCase{"Code31WholeWindow", 65536, 285, 0xFFFF, 16, 31, 0x3FFF, 14, 1, 65538, 65536},
        // Long matches that run through several slides of the window.
        MatchCase{"LongMatchesAcrossSlides", 65536, 285, 0xFFFF, 16, 31, 0x3FFF, 14, 6, 65538, 65536},
        MatchCase{"LongRunsAcrossSlides", 1, 285, 0xFFFF, 16, 0, 0, 0, 7, 65538, 1},
        MatchCase{"ShortPeriodAcrossSlides", 5, 285, 0xFFF0, 16, 4, 0, 1, 5, 65523, 5}),
    [](const testing::TestParamInfo<MatchCase>& paramInfo) { return std::string(paramInfo.param.name); });

// Inflates with zlib, the plain Deflate decoder, as a control; answers its
// result for the whole input (Z_STREAM_END, Z_DATA_ERROR, or Z_BUF_ERROR for
// input that ends early).
int PlainInflate(const Bytes& stream, Bytes& output, std::size_t room) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return Z_MEM_ERROR;
  output.assign(room, 0);
  z.next_in = const_cast<Bytes::value_type*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = output.data();
  z.avail_out = static_cast<uInt>(output.size());
  const int result = inflate(&z, Z_FINISH);
  output.resize(z.total_out);
  inflateEnd(&z);
  return result;
}

TEST(Deflate64DecoderTest, DynamicBlocksWithSingleCodes) {
  // Litlen: 'a' and 'b' 2 bits, end of block 2 bits, length 257 (3) 2 bits.
  std::vector<unsigned> litlen(258, 0);
  litlen['a'] = litlen['b'] = litlen[256] = litlen[257] = 2;
  const auto litCodes = CanonicalCodes(litlen);

  BitWriter w;
  // Block 1: one distance code, distance code 1 (distance 2), one bit long.
  DynamicHeader(w, false, litlen, {0, 1});
  w.Code(litCodes['a'], 2);
  w.Code(litCodes['b'], 2);
  w.Code(litCodes[257], 2);  // length 3
  w.Code(0, 1);              // the one distance code: distance 2
  w.Code(litCodes[256], 2);
  // Block 2: no distance code at all; literals only.
  DynamicHeader(w, false, litlen, {0});
  w.Code(litCodes['b'], 2);
  w.Code(litCodes[256], 2);
  // Block 3: nothing but the end-of-block code, one bit long.
  DynamicHeader(w, true, Lengths(257, {{256, 1}}), {0});
  w.Code(0, 1);

  const Decoded d = Decode(w.bytes());
  EXPECT_EQ(d.result, Deflate64Result::kStreamEnd);
  EXPECT_EQ(std::string(d.output.begin(), d.output.end()), "ababab");
  EXPECT_EQ(d.bytesIn, w.bytes().size());
  // zlib accepts the same three blocks.
  Bytes control;
  EXPECT_EQ(PlainInflate(w.bytes(), control, 100), Z_STREAM_END);
  EXPECT_TRUE(control == d.output);
}

// Malformed streams, each with the one result it must end in. None uses a
// Deflate64 code, so zlib serves as the control: it must reject each the
// same way (a data error, or input ending early).
struct MalformedCase {
  const char* name;
  std::function<void(BitWriter&)> build;
  Deflate64Result expected;
};

// A dynamic block header up to the end of the precode lengths, for precodes
// given by symbol.
void PrecodeHeader(BitWriter& w, unsigned hlit, unsigned hdist, const std::vector<unsigned>& precode) {
  w.Bits(1, 1);      // BFINAL
  w.Bits(2, 2);      // BTYPE: dynamic
  w.Bits(hlit, 5);   // HLIT: 257 + hlit codes
  w.Bits(hdist, 5);  // HDIST: 1 + hdist codes
  w.Bits(15, 4);     // HCLEN: 19 precode lengths
  for (unsigned symbol : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15}) {
    w.Bits(precode[symbol], 3);
  }
}

const MalformedCase kMalformed[] = {
    {"ReservedBlockType",
     [](BitWriter& w) {
       w.Bits(1, 1);  // BFINAL
       w.Bits(3, 2);  // BTYPE: 3, reserved
     },
     Deflate64Result::kDataError},
    {"StoredLengthNotComplemented",
     [](BitWriter& w) {
       w.Bits(1, 1).Bits(0, 2).Align();  // BFINAL, BTYPE: stored
       w.Bits(5, 16);                    // LEN: 5
       w.Bits(0xFFFF, 16);               // NLEN: should be 0xFFFA
       w.Raw(Bytes(5, 'x'));
     },
     Deflate64Result::kDataError},
    {"TooManyLitlenCodes",
     [](BitWriter& w) {
       w.Bits(1, 1).Bits(2, 2);                                 // BFINAL, BTYPE: dynamic
       w.Bits(30, 5);                                           // HLIT: 287 codes, one more than exist
       w.Bits(0, 5).Bits(15, 4);                                // HDIST, HCLEN: 19
       for (int i = 0; i < 19; ++i) w.Bits(i < 16 ? 4 : 0, 3);  // a valid precode, in order
     },
     Deflate64Result::kDataError},
    {"PrecodeOverSubscribed",
     [](BitWriter& w) {
       // Three precode codes of one bit.
       PrecodeHeader(w, 0, 0, Lengths(19, {{0, 1}, {1, 1}, {2, 1}}));
     },
     Deflate64Result::kDataError},
    {"PrecodeIncomplete",
     [](BitWriter& w) {
       // A single precode code of one bit: allowed for distances, not here.
       PrecodeHeader(w, 0, 0, Lengths(19, {{18, 1}}));
       w.Code(0, 1).Bits(127, 7);  // 18: 138 zeros
     },
     Deflate64Result::kDataError},
    {"RepeatWithoutPreviousLength",
     [](BitWriter& w) {
       // Precode codewords: 2 = 00, 16 = 01, 17 = 10, 18 = 11.
       PrecodeHeader(w, 0, 0, Lengths(19, {{16, 2}, {17, 2}, {18, 2}, {2, 2}}));
       w.Code(1, 2).Bits(0, 2);  // codeword 01 = 16 as the first length: nothing to repeat
     },
     Deflate64Result::kDataError},
    {"ZeroRunPastTheEnd",
     [](BitWriter& w) {
       // 257 litlen + 1 distance lengths = 258; 18 adds 138 zeros twice = 276.
       // Precode codewords: 2 = 00, 16 = 01, 17 = 10, 18 = 11.
       PrecodeHeader(w, 0, 0, Lengths(19, {{16, 2}, {17, 2}, {18, 2}, {2, 2}}));
       w.Code(3, 2).Bits(127, 7);  // 18: 138 zeros
       w.Code(3, 2).Bits(127, 7);  // 18: 138 more, past the 258th length
     },
     Deflate64Result::kDataError},
    {"RepeatPastTheEnd",
     [](BitWriter& w) {
       // Precode: 16 = "0", lengths 0..15 = "1" followed by the value in 4 bits.
       std::vector<unsigned> precode(19, 5);
       precode[16] = 1;
       precode[17] = precode[18] = 0;
       PrecodeHeader(w, 0, 0, precode);  // 257 litlen + 1 distance lengths
       // Literals 9 bits each, end of block 1 bit: a complete code.
       for (int i = 0; i < 256; ++i) w.Code(16 + 9, 5);
       w.Code(16 + 1, 5);
       w.Code(0, 1).Bits(0, 2);  // 16: the 1 three times, but one length is left
     },
     Deflate64Result::kDataError},
    {"NoEndOfBlockCode",
     [](BitWriter& w) {
       DynamicHeader(w, true, Lengths(258, {{'a', 1}, {257, 1}}), {1, 1});
     },
     Deflate64Result::kDataError},
    {"LitlenOverSubscribed",
     [](BitWriter& w) {
       DynamicHeader(w, true, Lengths(257, {{'a', 1}, {'b', 1}, {256, 1}}), {0});
     },
     Deflate64Result::kDataError},
    {"LitlenIncomplete",
     [](BitWriter& w) {
       DynamicHeader(w, true, Lengths(257, {{'a', 2}, {256, 2}}), {0});
       w.Code(0, 2).Code(1, 2);  // 'a', end of block
     },
     Deflate64Result::kDataError},
    {"DistanceIncomplete",
     [](BitWriter& w) {
       DynamicHeader(w, true, kTwoLiterals, {2, 2});  // two of four 2-bit codes
     },
     Deflate64Result::kDataError},
    {"DistanceOverSubscribed",
     [](BitWriter& w) {
       DynamicHeader(w, true, kTwoLiterals, {1, 1, 1});
     },
     Deflate64Result::kDataError},
    {"DistanceUnusedHalfOfOneBitCode",
     [](BitWriter& w) {
       DynamicHeader(w, true, kTwoLiterals, {1});
       w.Code(0, 2).Code(1, 2);  // 'a', 'b'
       w.Code(3, 2);             // 257: length 3
       w.Code(1, 1);             // distance codeword "1": unused
     },
     Deflate64Result::kDataError},
    {"MatchWithoutDistanceCodes",
     [](BitWriter& w) {
       DynamicHeader(w, true, kTwoLiterals, {0});
       w.Code(0, 2).Code(1, 2);  // 'a', 'b'
       w.Code(3, 2);             // 257: length 3, but no distance code exists
     },
     Deflate64Result::kDataError},
    {"MatchBeforeAnyOutput",
     [](BitWriter& w) {
       w.Bits(1, 1).Bits(1, 2);            // BFINAL, BTYPE: fixed
       FixedMatch(w, 257, 0, 0, 0, 0, 0);  // length 3, distance 1, nothing behind it
     },
     Deflate64Result::kDataError},
    {"DistanceOneBeyondOutput",
     [](BitWriter& w) {
       w.Bits(1, 1).Bits(1, 2);  // BFINAL, BTYPE: fixed
       FixedSymbol(w, 'a');
       FixedSymbol(w, 'b');
       FixedMatch(w, 257, 0, 0, 2, 0, 0);  // length 3, distance 3 after 2 bytes
     },
     Deflate64Result::kDataError},
    {"FixedLitlenSymbol286",
     [](BitWriter& w) {
       w.Bits(1, 1).Bits(1, 2);  // BFINAL, BTYPE: fixed
       FixedSymbol(w, 286);      // has a codeword, means nothing
       FixedSymbol(w, 256);
     },
     Deflate64Result::kDataError},
    {"EndsInsideAFixedBlock",
     [](BitWriter& w) {
       w.Bits(1, 1).Bits(1, 2);  // BFINAL, BTYPE: fixed
       FixedSymbol(w, 'a');      // ... and no end of block
     },
     Deflate64Result::kTruncated},
    {"EndsAfterANonFinalBlock",
     [](BitWriter& w) {
       w.Bits(0, 1).Bits(1, 2);  // BFINAL: no, BTYPE: fixed
       FixedSymbol(w, 'a');
       FixedSymbol(w, 256);
     },
     Deflate64Result::kTruncated},
    {"EndsInsideAStoredBlock",
     [](BitWriter& w) {
       w.Bits(1, 1).Bits(0, 2).Align();           // BFINAL, BTYPE: stored
       w.Bits(100, 16).Bits(~100u & 0xFFFF, 16);  // LEN 100, NLEN
       w.Raw(Bytes(99, 'x'));                     // one byte short
     },
     Deflate64Result::kTruncated},
    {"Empty", [](BitWriter&) {}, Deflate64Result::kTruncated},
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class Deflate64MalformedTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(Deflate64MalformedTest, FailsWithItsResult) {
  BitWriter w;
  GetParam().build(w);
  for (std::size_t piece : {std::size_t{1}, std::size_t{16384}}) {
    SCOPED_TRACE(piece);
    const Decoded d = Decode(w.bytes(), piece);
    EXPECT_EQ(d.result, GetParam().expected);
    EXPECT_EQ(d.bytesOut, d.output.size());
  }
  Bytes control;
  EXPECT_EQ(PlainInflate(w.bytes(), control, 1000),
            GetParam().expected == Deflate64Result::kTruncated ? Z_BUF_ERROR : Z_DATA_ERROR);
}

INSTANTIATE_TEST_SUITE_P(Hostile, Deflate64MalformedTest, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<MalformedCase>& paramInfo) {
                           return std::string(paramInfo.param.name);
                         });

// Lines that each carry their own number, so no 258-byte stretch repeats
// and plain Deflate never needs length code 285 (which means 258 there).
Bytes NumberedText(std::size_t lines) {
  static const char* const kWords[] = {"alpha", "beta",   "gamma",  "delta",  "archive",
                                       "entry", "header", "window", "stream", "block"};
  std::mt19937 rng(42);
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += std::to_string(i) + ":";
    const unsigned words = 3 + static_cast<unsigned>(rng() % 12);
    for (unsigned k = 0; k < words; ++k) text += std::string(" ") + kWords[rng() % 10];
    text += "\n";
  }
  return Bytes(text.begin(), text.end());
}

Bytes RawDeflate(const Bytes& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
  Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = const_cast<Bytes::value_type*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(Deflate64DecoderTest, PlainDeflateWithoutCode285DecodesAlike) {
  const Bytes text = NumberedText(8000);
  const struct {
    int level;
    int strategy;
  } kSettings[] = {{0, Z_DEFAULT_STRATEGY},
                   {1, Z_DEFAULT_STRATEGY},
                   {6, Z_DEFAULT_STRATEGY},
                   {9, Z_DEFAULT_STRATEGY},
                   {6, Z_FILTERED},
                   {6, Z_HUFFMAN_ONLY},
                   {6, Z_FIXED}};
  for (const auto& s : kSettings) {
    SCOPED_TRACE(testing::Message() << "level " << s.level << " strategy " << s.strategy);
    const Bytes stream = RawDeflate(text, s.level, s.strategy);
    const Decoded d = Decode(stream);
    EXPECT_EQ(d.result, Deflate64Result::kStreamEnd);
    EXPECT_EQ(d.bytesIn, stream.size());
    EXPECT_TRUE(d.output == text);
  }
}

TEST(Deflate64DecoderTest, PieceBoundariesDoNotMatter) {
  Bytes data = NumberedText(3000);
  const Bytes noise = PseudoRandomBytes(40000, 3);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), data.begin(), data.begin() + 50000);
  const Bytes stream = RawDeflate(data, 6, Z_DEFAULT_STRATEGY);
  for (std::size_t piece : {1, 2, 7, 8, 9, 15, 16, 17, 4096, 1 << 20}) {
    SCOPED_TRACE(piece);
    const Decoded d = Decode(stream, piece);
    EXPECT_EQ(d.result, Deflate64Result::kStreamEnd);
    EXPECT_EQ(d.bytesIn, stream.size());
    EXPECT_TRUE(d.output == data);
  }
}

// A stream of all three block kinds with a Deflate64 match, and its output.
struct MixedStream {
  Bytes stream;
  Bytes output;
};

MixedStream MakeMixedStream() {
  MixedStream m;
  m.output = NumberedText(20);
  BitWriter w;
  StoredBlocks(w, m.output);
  w.Bits(0, 1).Bits(1, 2);                // BFINAL: no, BTYPE: fixed
  FixedMatch(w, 285, 5000, 16, 9, 5, 3);  // length 3 + 5000, distance 25 + 5
  ReferenceCopy(m.output, 5003, 30);
  FixedSymbol(w, 'z');
  m.output.push_back('z');
  FixedSymbol(w, 256);
  // Dynamic final block; distance codes 4 (codeword "0") and 10 ("1").
  const auto codes = CanonicalCodes(kTwoLiterals);
  DynamicHeader(w, true, kTwoLiterals, Lengths(11, {{4, 1}, {10, 1}}));
  w.Code(codes['a'], 2);
  m.output.push_back('a');
  w.Code(codes[257], 2);  // length 3
  w.Code(1, 1);           // distance code 10: 33 + extra
  w.Bits(7, 4);           // extra: distance 40
  ReferenceCopy(m.output, 3, 40);
  w.Code(codes['b'], 2);
  m.output.push_back('b');
  w.Code(codes[256], 2);
  m.stream = w.bytes();
  return m;
}

TEST(Deflate64DecoderTest, EveryCutOfAStreamIsTruncated) {
  const MixedStream mixed = MakeMixedStream();
  const Bytes text = NumberedText(300);
  const Bytes zlibStream = RawDeflate(text, 9, Z_DEFAULT_STRATEGY);
  Deflate64Decoder decoder;  // one for all runs: a failed run must not spoil the next
  for (const Bytes* full : {&mixed.stream, &zlibStream}) {
    const Decoded whole = Decode(*full, 16384, &decoder);
    ASSERT_EQ(whole.result, Deflate64Result::kStreamEnd);
    ASSERT_EQ(whole.bytesIn, full->size());
    ASSERT_TRUE(whole.output == (full == &zlibStream ? text : mixed.output));
    for (std::size_t cut = 0; cut < full->size(); ++cut) {
      const Bytes part(full->begin(), full->begin() + static_cast<long>(cut));
      const Decoded d = Decode(part, 5, &decoder);
      ASSERT_EQ(d.result, Deflate64Result::kTruncated) << "cut at " << cut;
    }
  }
}

TEST(Deflate64DecoderTest, StreamEndsWithinTheInput) {
  const MixedStream mixed = MakeMixedStream();
  Bytes input = mixed.stream;
  const Bytes junk = PseudoRandomBytes(100, 5);
  input.insert(input.end(), junk.begin(), junk.end());
  for (std::size_t piece : {1, 16384}) {
    SCOPED_TRACE(piece);
    const Decoded d = Decode(input, piece);
    EXPECT_EQ(d.result, Deflate64Result::kStreamEnd);
    EXPECT_EQ(d.bytesIn, mixed.stream.size());
    EXPECT_TRUE(d.output == mixed.output);
  }
}

TEST(Deflate64DecoderTest, RefusedWriteStopsTheRun) {
  const Bytes text = NumberedText(20000);  // several window slides of output
  const Bytes stream = RawDeflate(text, 6, Z_DEFAULT_STRATEGY);
  for (std::size_t capacity : {std::size_t{0}, std::size_t{300000}, text.size() - 1}) {
    SCOPED_TRACE(capacity);
    Deflate64Decoder decoder;
    Source source;
    source.data = &stream;
    Sink sink;
    sink.capacity = capacity;
    unsigned long long bytesIn = 0;
    unsigned long long bytesOut = 0;
    EXPECT_EQ(decoder.Run(Source::Read, &source, Sink::Write, &sink, &bytesIn, &bytesOut),
              Deflate64Result::kWriteFailed);
    EXPECT_EQ(bytesOut, sink.data.size());
    EXPECT_LE(bytesOut, capacity);
    EXPECT_TRUE(std::equal(sink.data.begin(), sink.data.end(), text.begin()));
  }
}

TEST(Deflate64DecoderTest, FailedReadCountsOnlyWhenItsBytesAreNeeded) {
  const MixedStream mixed = MakeMixedStream();
  const struct {
    std::size_t piece;
    int failAtCall;
    Deflate64Result expected;
  } kCases[] = {
      {1000, 0, Deflate64Result::kReadFailed},                // before anything
      {100, 3, Deflate64Result::kReadFailed},                 // inside the stored block
      {1000, 1, Deflate64Result::kReadFailed},                // inside the fixed block
      {mixed.stream.size(), 1, Deflate64Result::kStreamEnd},  // after the stream: not needed
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.piece << " " << c.failAtCall);
    Deflate64Decoder decoder;
    Source source;
    source.data = &mixed.stream;
    source.piece = c.piece;
    source.failAtCall = c.failAtCall;
    Sink sink;
    unsigned long long bytesIn = 0;
    EXPECT_EQ(decoder.Run(Source::Read, &source, Sink::Write, &sink, &bytesIn, nullptr), c.expected);
    EXPECT_LE(bytesIn, c.piece * static_cast<std::size_t>(c.failAtCall));
    if (c.expected == Deflate64Result::kStreamEnd) {
      EXPECT_TRUE(sink.data == mixed.output);
    }
  }
}

TEST(Deflate64DecoderTest, InputEndingInACodeThatZerosWouldContinue) {
  // The codeword of 'A' is "0": after the input ends, a decoder that kept
  // reading zeros would produce 'A's for ever.
  const auto litlen = Lengths(257, {{'A', 1}, {'B', 2}, {256, 2}});
  BitWriter w;
  DynamicHeader(w, true, litlen, {0});
  for (int i = 0; i < 3; ++i) w.Code(0, 1);  // 'A'
  Deflate64Decoder decoder;
  Source source;
  source.data = &w.bytes();
  Sink sink;
  EXPECT_EQ(decoder.Run(Source::Read, &source, Sink::Write, &sink, nullptr, nullptr),
            Deflate64Result::kTruncated);
  EXPECT_LE(source.callsAfterEnd, 1);
  EXPECT_TRUE(sink.data.empty());
}

TEST(Deflate64DecoderTest, OneDecoderRunsManyStreams) {
  const MixedStream mixed = MakeMixedStream();
  const Bytes text = NumberedText(5000);
  const Bytes dynamicStream = RawDeflate(text, 9, Z_DEFAULT_STRATEGY);
  const Bytes fixedStream = RawDeflate(text, 9, Z_FIXED);
  BitWriter broken;
  broken.Bits(1, 1).Bits(3, 2);  // BFINAL, BTYPE: reserved
  Deflate64Decoder decoder;
  // Fixed after dynamic and dynamic after fixed: tables must not leak across.
  EXPECT_TRUE(Decode(fixedStream, 16384, &decoder).output == text);
  EXPECT_TRUE(Decode(dynamicStream, 16384, &decoder).output == text);
  EXPECT_EQ(Decode(broken.bytes(), 16384, &decoder).result, Deflate64Result::kDataError);
  EXPECT_TRUE(Decode(mixed.stream, 16384, &decoder).output == mixed.output);
  EXPECT_TRUE(Decode(fixedStream, 16384, &decoder).output == text);
  const Decoded last = Decode(mixed.stream, 3, &decoder);
  EXPECT_EQ(last.result, Deflate64Result::kStreamEnd);
  EXPECT_TRUE(last.output == mixed.output);
}

// Damaged streams end in some result, never in a crash or a stray write
// (the sanitizer build watches the memory side), and the result does not
// depend on how the input is cut into pieces.
TEST(Deflate64DecoderTest, DamagedStreamsEndCleanly) {
  const MixedStream mixed = MakeMixedStream();
  Bytes data = NumberedText(2000);
  const Bytes noise = PseudoRandomBytes(3000, 11);
  data.insert(data.end(), noise.begin(), noise.end());
  const Bytes zlibStream = RawDeflate(data, 9, Z_DEFAULT_STRATEGY);
  std::mt19937 rng(1234);
  Deflate64Decoder decoder;
  int dataErrors = 0;
  for (int round = 0; round < 1500; ++round) {
    Bytes stream = round % 2 ? zlibStream : mixed.stream;
    if (round % 10 == 9) {
      stream = PseudoRandomBytes(1 + rng() % 2000, static_cast<std::uint32_t>(rng()));
    } else {
      for (unsigned flips = 1 + static_cast<unsigned>(rng() % 3); flips > 0; --flips) {
        stream[rng() % stream.size()] ^= static_cast<unsigned char>(1u << (rng() % 8));
      }
    }
    const Decoded whole = Decode(stream, 16384, &decoder);
    const Decoded pieces = Decode(stream, 1 + round % 9, &decoder);
    ASSERT_EQ(whole.bytesOut, whole.output.size());
    ASSERT_LE(whole.bytesIn, stream.size());
    ASSERT_EQ(pieces.result, whole.result) << "round " << round;
    ASSERT_EQ(pieces.bytesIn, whole.bytesIn) << "round " << round;
    ASSERT_TRUE(pieces.output == whole.output) << "round " << round;
    dataErrors += whole.result == Deflate64Result::kDataError;
  }
  EXPECT_GT(dataErrors, 150);  // the damage is noticed, not decoded into something
}

// Streams written by an independent Deflate64 encoder.
class SevenZipEntries : public testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() /
              ("deflate64-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  // Packs `data` with 7zz as a Deflate64 entry and answers the entry's raw
  // compressed data, found through its local header.
  Bytes Compress(const Bytes& data, int level) {
    const auto input = folder_ / "data.bin";
    const auto archive = folder_ / ("data" + std::to_string(level) + ".zip");
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    const std::string command = "7zz a -tzip -mm=Deflate64 -mx=" + std::to_string(level) + " " +
                                testing_support::Quote(archive.string()) + " " +
                                testing_support::Quote(input.string()) + " > /dev/null 2>&1";
    EXPECT_EQ(testing_support::RunCommand(command), 0) << command;
    std::ifstream file(archive, std::ios::binary);
    const Bytes zip((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto u16 = [&](std::size_t at) { return unsigned(zip[at] | zip[at + 1] << 8); };
    auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at) | u16(at + 2) << 16); };
    if (zip.size() < 30 || u32(0) != 0x04034B50) {
      ADD_FAILURE() << "no local header";
      return {};
    }
    EXPECT_EQ(u16(8), 9u) << "method";
    EXPECT_EQ(u32(22), data.size()) << "uncompressed size";
    const std::size_t start = 30 + u16(26) + u16(28);  // after name and extra field
    const std::size_t size = u32(18);
    if (size > zip.size() - start) {
      ADD_FAILURE() << "compressed size beyond the file";
      return {};
    }
    return Bytes(zip.begin() + static_cast<long>(start), zip.begin() + static_cast<long>(start + size));
  }

  std::filesystem::path folder_;
};

TEST_F(SevenZipEntries, DecodeByteExactly) {
  // Matches longer than 258 bytes (runs and a repeated 48 KiB block) at
  // distances beyond 32 KiB, between text and incompressible stretches.
  Bytes data;
  const Bytes block = PseudoRandomBytes(48 * 1024, 99);
  const Bytes text = NumberedText(4000);
  std::mt19937 rng(5);
  for (int i = 0; i < 12; ++i) {
    data.insert(data.end(), block.begin(), block.end());
    data.insert(data.end(), 300 + rng() % 70000, static_cast<unsigned char>('a' + i));
    const std::size_t from = rng() % (text.size() - 20000);
    data.insert(data.end(), text.begin() + static_cast<long>(from),
                text.begin() + static_cast<long>(from + 20000));
    data.push_back(static_cast<unsigned char>(rng()));
  }
  for (int level : {1, 5, 9}) {
    SCOPED_TRACE(level);
    const Bytes stream = Compress(data, level);
    ASSERT_FALSE(stream.empty());
    // Control: the stream really uses what plain Deflate lacks.
    Bytes control;
    const int plain = PlainInflate(stream, control, data.size() + 1);
    EXPECT_FALSE(plain == Z_STREAM_END && control == data);
    for (std::size_t piece : {std::size_t{16384}, std::size_t{9}}) {
      const Decoded d = Decode(stream, piece);
      EXPECT_EQ(d.result, Deflate64Result::kStreamEnd);
      EXPECT_EQ(d.bytesIn, stream.size());
      EXPECT_EQ(d.bytesOut, data.size());
      EXPECT_TRUE(d.output == data);
    }
  }
}

}  // namespace
}  // namespace korbel
