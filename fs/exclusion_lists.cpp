#include "fs/exclusion_lists.h"

#include <cstddef>

namespace fs {
namespace {

constexpr char kGeneral[] =
    "*.exe;*.obj;*.idb;*.aps;*.ncb;*.sdf;*.opt;*.plg;*.pdb;*.aps;*.pch;*.res;*.ilk;*.sbr;"
    "*.map;*.mp3;*.wav;*.bsc;*.gid;*.dll;*.fts;*.ftg;*.sav;*.00*;*.tmp;*.enc;*.tlb;*.tli;"
    "*.tlh;*.dat;*.mdb;*.gid;*.ftg;*.aps;*.cfd;*.exd;*.am;*.asp;*.exp;*.rtb;*.loc;*.sup;"
    "*.cvsignore;*.cnv;*.jar;*.icu;*.stub;*.policy;*.log;*.suo;*.keep;*.keep.?;*.keep.??;"
    "*.sql;BuildLog.htm;*.embed.manifest;*.intermediate.manifest;*.user;*.svn-base;*.;"
    "*.zip.bin;*.d;*.crf;*.axf;*.__i;*.o;*.bak;*.uvgui;*.uvgui.*;*_dummy.dsw;*_dummy.dsp;"
    "*.tra;*.sct;*.lnp;*.iex;*.dep;*.lst;*.uvgui.*;*.pbi;*.pbd;*.cout;*.browse;*.sim;*.out;"
    "*.dep;*._ia;*.scc;*.sbr;*.rsp;*.mac;*.tli;*.tlh;*.keep;*.tlog;*.lastbuildstate;"
    "*.ipch;*.lib";

// The one pattern that only the general list has.
constexpr char kLibraryPattern[] = ";*.lib";
constexpr std::size_t kLibraryLength = sizeof(kLibraryPattern) - 1;

constexpr bool EndsWithLibraryPattern() {
  const std::size_t start = sizeof(kGeneral) - 1 - kLibraryLength;
  for (std::size_t i = 0; i < kLibraryLength; ++i) {
    if (kGeneral[start + i] != kLibraryPattern[i]) return false;
  }
  return true;
}
static_assert(EndsWithLibraryPattern(), "the general list must end in the library pattern");

struct MicroVisionText {
  char text[sizeof(kGeneral) - kLibraryLength];
};

constexpr MicroVisionText CutLibraryPattern() {
  MicroVisionText cut{};
  for (std::size_t i = 0; i + 1 < sizeof(cut.text); ++i) cut.text[i] = kGeneral[i];
  cut.text[sizeof(cut.text) - 1] = 0;
  return cut;
}

constexpr MicroVisionText kMicroVision = CutLibraryPattern();

}  // namespace

const char* const kGeneralExclusions = kGeneral;
const char* const kMicroVisionExclusions = kMicroVision.text;

}  // namespace fs
