// The password for encrypted entries: the one given with -p, or else asked
// once on the terminal without echo when the first encrypted entry comes.
// Without a terminal and without -p an encrypted entry is refused as such,
// so "Falsches Passwort" only ever follows a password that was tried.
#ifndef PAKKARO_TOOLS_KORBEL_PASSWORD_SOURCE_H
#define PAKKARO_TOOLS_KORBEL_PASSWORD_SOURCE_H

#include <functional>
#include <string>
#include <utility>

namespace korbel_tool {

class PasswordSource {
 public:
  // `ask` shows the question and reads the answer without echo; false when
  // there is no terminal or its input ended. `install` hands the password to
  // the archive.
  using Asker = std::function<bool(const std::string& question, std::string* answer)>;
  using Installer = std::function<void(const std::string& password)>;

  PasswordSource(const char* given, Asker ask, Installer install);

  // Whether a password is there for an encrypted entry; asks for it the
  // first time. `archiveName` (UTF-8) names the archive in the question.
  bool Ready(const std::string& archiveName);

 private:
  Asker ask_;
  Installer install_;
  bool have_ = false;
  bool asked_ = false;
};

}  // namespace korbel_tool

#endif  // PAKKARO_TOOLS_KORBEL_PASSWORD_SOURCE_H
