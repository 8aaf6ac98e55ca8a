#include "tools/korbel/password_source.h"

#include "platform/platform.h"
#include "tools/korbel/tool_texts.h"

namespace korbel_tool {

PasswordSource::PasswordSource(const char* given, Asker ask, Installer install)
    : ask_(std::move(ask)), install_(std::move(install)), have_(given != nullptr) {
  if (have_) install_(given);
}

bool PasswordSource::Ready(const std::string& archiveName) {
  if (have_ || asked_) return have_;
  asked_ = true;
  std::string password;
  if (!ask_(platform::Windows1252ToUtf8(kPasswordQuestion) + archiveName + ": ", &password)) return false;
  install_(password);
  have_ = true;
  return true;
}

}  // namespace korbel_tool
