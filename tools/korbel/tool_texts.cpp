#include "tools/korbel/tool_texts.h"

#include "platform/platform.h"

namespace korbel_tool {

namespace {

std::string Counted(long long count, const char* one, const char* many) {
  return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

// Length of the valid UTF-8 sequence of two to four bytes at `at`, 0 when
// there is none.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4  ? 4
                             : lead >= 0xE0                ? 3
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                                                           : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string EngineText(const std::string& mixed) {
  std::string shown;
  std::size_t at = 0;
  while (at < mixed.size()) {
    if (static_cast<unsigned char>(mixed[at]) < 0x80) {
      shown.push_back(mixed[at++]);
      continue;
    }
    const std::size_t length = Utf8SequenceAt(mixed, at);
    if (length > 0) {
      shown += platform::ConsoleText(mixed.substr(at, length));
      at += length;
    } else {
      shown += platform::MessageText(mixed.substr(at, 1));
      ++at;
    }
  }
  return shown;
}

std::string Entries(long long count) { return Counted(count, "Eintrag", "Eintr\xE4ge"); }

std::string Files(long long count) { return Counted(count, "Datei", "Dateien"); }

std::string TestSummary(long long tested, long long failed) {
  return Counted(tested, "Eintrag gepr\374ft", "Eintr\xE4ge gepr\374ft") + ", " + std::to_string(failed) +
         " fehlerhaft";
}

}  // namespace korbel_tool
