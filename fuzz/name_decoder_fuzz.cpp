// Fuzz target: stored name bytes to in-memory text, under both kinds of
// system, with and without the UTF-8 flag (bit 0 of the first byte), and
// the text encoded back for a header.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "zip/format/name_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto choice = static_cast<unsigned>(fuzzing::TakeLittleEndian(data, size, 1));
  const std::uint16_t flags = (choice & 1) ? korbel::kFlagUtf8Name : 0;
  const korbel::NameSystem current = korbel::CurrentNameSystem();
  for (bool utf8 : {false, true}) {
    korbel::NameSystem system = current;
    system.narrowIsUtf8 = utf8;
    std::string text;
    korbel::DecodeName(data, size, flags, system, &text);
    std::string stored;
    std::uint16_t storedFlags = 0;
    korbel::EncodeName(text, system, &stored, &storedFlags);
  }
  return 0;
}
