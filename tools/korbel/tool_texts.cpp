#include "tools/korbel/tool_texts.h"

namespace korbel_tool {

namespace {

std::string Counted(long long count, const char* one, const char* many) {
  return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

}  // namespace

std::string Entries(long long count) { return Counted(count, "Eintrag", "Eintr\xE4ge"); }

std::string Files(long long count) { return Counted(count, "Datei", "Dateien"); }

std::string TestSummary(long long tested, long long failed) {
  return Counted(tested, "Eintrag gepr\xFC" "ft", "Eintr\xE4ge gepr\xFC" "ft") + ", " + std::to_string(failed) +
         " fehlerhaft";
}

}  // namespace korbel_tool
