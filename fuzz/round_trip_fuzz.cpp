// Fuzz target: a few entries whose names, contents, methods and levels come
// from the input are written through the engine into an archive in memory,
// the archive is loaded again, and every name and every byte must come back
// exactly. A refusal of any step is a finding: the names are made so that
// no name rule applies to them and the block has room for stored data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "zip/korbel.h"

namespace {

struct PlannedEntry {
  std::string name;
  std::vector<std::uint8_t> content;
  int method = -1;
  int level = 9;
};

// Name pieces: ASCII that no rule changes, and UTF-8 of two, three and four
// bytes for the name codec. No separator: the target places those itself,
// so that no component is empty, "." or "..".
const char* const kPieces[] = {"a",
                               "b",
                               "z",
                               "Q",
                               "0",
                               "7",
                               "-",
                               "_",
                               " ",
                               "~",
                               "x.y",
                               "\xC3\xA9",
                               "\xC3\x9F",
                               "\xE4\xB8\xAD",
                               "\xF0\x9F\x98\x80",
                               "#",
                               "(",
                               "!"};
constexpr std::size_t kPieceCount = sizeof kPieces / sizeof kPieces[0];
constexpr std::size_t kMaxContent = 1u << 16;

std::uint8_t Take(const std::uint8_t*& data, std::size_t& size) {
  return static_cast<std::uint8_t>(fuzzing::TakeLittleEndian(data, size, 1));
}

// "e<index>/" keeps the names apart, whatever the pieces; then one to three
// components of one to eight pieces.
std::string MakeName(std::size_t index, const std::uint8_t*& data, std::size_t& size) {
  std::string name = "e" + std::to_string(index);
  const unsigned components = 1u + Take(data, size) % 3u;
  for (unsigned c = 0; c < components; ++c) {
    name += '/';
    const unsigned pieces = 1u + Take(data, size) % 8u;
    for (unsigned p = 0; p < pieces; ++p) name += kPieces[Take(data, size) % kPieceCount];
    // A trailing dot or space is kept in a stored name; a component of dots
    // alone is not wanted here.
    if (name.back() == '.') name += 'd';
  }
  return name;
}

std::vector<std::uint8_t> MakeContent(const std::uint8_t*& data, std::size_t& size) {
  const std::uint8_t kind = Take(data, size);
  std::size_t length = static_cast<std::size_t>(fuzzing::TakeLittleEndian(data, size, 2));
  std::vector<std::uint8_t> content;
  if (kind & 1) {
    // A short pattern repeated: data that Deflate shrinks.
    const std::size_t period = 1u + (kind >> 1) % 16u;
    std::vector<std::uint8_t> pattern;
    for (std::size_t i = 0; i < period; ++i) pattern.push_back(Take(data, size));
    length %= kMaxContent;
    for (std::size_t i = 0; i < length; ++i) content.push_back(pattern[i % period]);
  } else {
    length = length < size ? length : size;
    content.assign(data, data + length);
    data += length;
    size -= length;
  }
  return content;
}

std::int64_t Append(void* context, const void* bytes, std::size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(context);
  if (bytes != nullptr) {
    const auto* begin = static_cast<const std::uint8_t*>(bytes);
    out->insert(out->end(), begin, begin + length);
  }
  return static_cast<std::int64_t>(length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<PlannedEntry> planned(1u + Take(data, size) % 4u);
  std::size_t total = 0;
  for (std::size_t i = 0; i < planned.size(); ++i) {
    const std::uint8_t choice = Take(data, size);
    const int methods[] = {-1, 0, 8};
    planned[i].method = methods[choice % 3];
    planned[i].level = (choice >> 2) % 10;
    planned[i].name = MakeName(i, data, size);
    planned[i].content = MakeContent(data, size);
    total += planned[i].content.size() + 2 * planned[i].name.size();
  }

  // Stored data, the headers, the directory and Deflate's first blocks
  // before it notices growth all fit.
  std::vector<std::uint8_t> block(2 * total + 65536);
  const auto capacity = static_cast<std::int64_t>(block.size());
  korbel::Korbel writer;
  if (writer.OpenMemory(block.data(), capacity, 0, 0) != korbel::kOk) __builtin_trap();
  for (const PlannedEntry& entry : planned) {
    writer.SetMethod(entry.method);
    writer.SetLevel(entry.level);
    if (writer.AddFromMemory(entry.name.c_str(), entry.content.data(), entry.content.size(), nullptr) !=
        korbel::kOk) {
      __builtin_trap();
    }
  }
  if (writer.Close() != korbel::kOk) __builtin_trap();

  korbel::Korbel reader;
  if (reader.OpenMemory(block.data(), capacity, -1, 0) != korbel::kOk) __builtin_trap();
  if (reader.EntryCount() != static_cast<int>(planned.size())) __builtin_trap();
  for (std::size_t i = 0; i < planned.size(); ++i) {
    const int index = static_cast<int>(i);
    if (planned[i].name != reader.EntryName(index)) __builtin_trap();
    std::vector<std::uint8_t> back;
    if (reader.ReadEntry(index, &back, Append, nullptr) != korbel::kOk) __builtin_trap();
    if (back != planned[i].content) __builtin_trap();
    if (reader.TestEntry(index) != korbel::kOk) __builtin_trap();
  }
  reader.Close();
  return 0;
}
