// What `korbel x` does with a file that is already where an entry goes:
// kept unless overwriting was asked for (-o), never overwritten with -n,
// and otherwise asked about on the terminal, where "alle" and "keine"
// answer every later question too. Without a terminal the file is kept.
#ifndef PAKKARO_TOOLS_KORBEL_OVERWRITE_CHOICE_H
#define PAKKARO_TOOLS_KORBEL_OVERWRITE_CHOICE_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace korbel_tool {

enum class OverwriteRule { kAsk, kAlways, kNever };

// Whether the file at `path` holds exactly `size` bytes with this CRC-32:
// such a file is the entry already and needs neither a question nor a write.
bool FileHoldsEntry(const char* path, std::uint64_t size, std::uint32_t crc);

class OverwriteChoice {
 public:
  // `ask` shows the question and reads the answer; false when there is no
  // terminal to ask on (or its input ended).
  using Asker = std::function<bool(const std::string& question, std::string* answer)>;

  OverwriteChoice(OverwriteRule rule, Asker ask) : rule_(rule), ask_(std::move(ask)) {}

  enum class Decision {
    kReplace,
    kKeep,         // as asked (-n, or an answer)
    kKeepUnasked,  // no terminal to ask on: the run reports it as a failure
  };

  // What becomes of the existing file `name` (UTF-8, as AskConsole takes it).
  Decision Decide(const std::string& name);

 private:
  OverwriteRule rule_;
  bool noTerminal_ = false;
  Asker ask_;
};

}  // namespace korbel_tool

#endif  // PAKKARO_TOOLS_KORBEL_OVERWRITE_CHOICE_H
