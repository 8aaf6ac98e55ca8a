#include "app/pack_progress.h"

#include <cstdio>

#include "platform/platform.h"

namespace pakkaro {

namespace {

// A short run stays silent.
constexpr auto kQuietStart = std::chrono::milliseconds(1000);
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// Characters, not bytes: every UTF-8 lead byte starts one.
std::size_t CharacterCount(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

// The last `keep` characters of the text.
std::string LastCharacters(const std::string& text, std::size_t keep) {
  std::size_t count = CharacterCount(text);
  std::size_t at = 0;
  while (count > keep && at < text.size()) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    --count;
  }
  return text.substr(at);
}

// Megabytes with one decimal, German style: "12,3".
std::string Megabytes(std::uint64_t bytes) {
  const std::uint64_t tenths = (bytes + 52428) / 104858;
  return std::to_string(tenths / 10) + ',' + std::to_string(tenths % 10);
}

// Names come from the file system: no control character reaches the terminal.
std::string WithoutControls(const std::string& name) {
  std::string clean(name);
  for (char& c : clean) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return clean;
}

}  // namespace

std::string ProgressLine(std::uint64_t filesDone, std::uint64_t filesAll, std::uint64_t bytesDone,
                         std::uint64_t bytesAll, const std::string& name, int width) {
  const std::uint64_t percent =
      bytesAll == 0 ? (filesAll == 0 ? 100 : filesDone * 100 / filesAll) : bytesDone * 100 / bytesAll;
  std::string line = std::to_string(filesDone) + '/' + std::to_string(filesAll) + " Dateien, " +
                     Megabytes(bytesDone) + '/' + Megabytes(bytesAll) + " MB, " + std::to_string(percent) +
                     " %";
  const std::size_t room = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
  const std::string shown = WithoutControls(name);
  const std::size_t used = CharacterCount(line) + 2;
  if (!shown.empty() && room > used + 4) {
    const std::size_t nameRoom = room - used;
    line += ": ";
    line += CharacterCount(shown) <= nameRoom ? shown : "..." + LastCharacters(shown, nameRoom - 3);
  }
  // Without the name the line is ASCII: bytes are characters.
  if (CharacterCount(line) > room) line.resize(room);
  return line;
}

PackProgress::PackProgress()
    : enabled_(platform::StandardIsConsole(2)),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_ - kRedrawInterval) {}

PackProgress::~PackProgress() {
  Clear();
  if (followed_ != nullptr) followed_->SetCallback(0, nullptr);
}

void PackProgress::Follow(korbel::Korbel& archive) {
  if (!enabled_) return;
  followed_ = &archive;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    if (!(archive.EntryStatus(i) & korbel::kStatusQueued)) continue;
    ++filesAll_;
    bytesAll_ += archive.EntrySize(i, false);
  }
  width_ = platform::ConsoleWidth();
  archive.SetCallback(reinterpret_cast<std::uintptr_t>(this), &PackProgress::OnEvent);
  // Only the two events of writing an entry, and those without their text.
  const std::uint32_t wanted = (1u << korbel::kEventCompress) | (1u << korbel::kEventCompressed);
  archive.DisableEvents(~wanted, true);
  archive.SetRawEvents(wanted, 0);
}

int PackProgress::OnEvent(std::uintptr_t self, int event, int entryIndex, korbel::ArchiveBase* archive,
                          const char*) {
  auto* progress = reinterpret_cast<PackProgress*>(self);
  auto* korbelArchive = static_cast<korbel::Korbel*>(archive);
  if (event == korbel::kEventCompressed && entryIndex >= 0) {
    ++progress->filesDone_;
    progress->bytesDone_ += korbelArchive->EntrySize(entryIndex, false);
  }
  progress->Draw(*korbelArchive, entryIndex);
  return 0;
}

void PackProgress::Draw(korbel::Korbel& archive, int entryIndex) {
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kQuietStart || now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  const char* name = entryIndex >= 0 ? archive.EntryName(entryIndex) : nullptr;
  const std::string line =
      ProgressLine(filesDone_, filesAll_, bytesDone_, bytesAll_, name != nullptr ? name : "", width_);
  // Back to the line's start; spaces wipe what a longer line left.
  const std::size_t length = CharacterCount(line);
  const std::size_t room = width_ > 1 ? static_cast<std::size_t>(width_ - 1) : 0;
  platform::WriteConsoleError('\r' + line + std::string(room > length ? room - length : 0, ' '));
  shown_ = true;
}

void PackProgress::Clear() {
  if (!shown_) return;
  shown_ = false;
  const std::size_t room = width_ > 1 ? static_cast<std::size_t>(width_ - 1) : 0;
  platform::WriteConsoleError('\r' + std::string(room, ' ') + '\r');
}

}  // namespace pakkaro
