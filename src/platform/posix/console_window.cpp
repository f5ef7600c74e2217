#include "platform/posix/console_window.h"

#include <unistd.h>

#include "common/encoding.h"
#include "shell/ewform.h"

namespace trelvex::posix {

std::int64_t ConsoleWindow::Handle() const { return static_cast<std::int64_t>(::getpid()); }

void ConsoleWindow::AddLine(const std::string& line) {
  memo_.push_back(line);
  if (echo_) {
    std::string text = Cp1250ToUtf8(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), echo_);
    std::fflush(echo_);
  }
}

void ConsoleWindow::SetProgress(int position) {
  progress_ = position < 0 ? 0 : position > 100 ? 100 : position;
}

void ConsoleWindow::ProcessMessages() {
  // Nothing arrives during a pass: the terminate message is posted only after
  // it, and commands are read only by the loop of a shown window.
  if (echo_) std::fflush(echo_);
}

void ConsoleWindow::Run(TEWForm& form, bool shown, std::istream& input) {
  while (true) {
    if (terminatePosted_) {
      terminatePosted_ = false;
      form.AppTerminate();
      return;
    }
    if (!shown) return;
    std::string command;
    if (!std::getline(input, command)) return;
    if (!command.empty() && command.back() == '\r') command.pop_back();
    if (command.empty() || command == "r") {
      form.ToolButton1Click();
    } else if (command == "q") {
      return;
    }
  }
}

}  // namespace trelvex::posix
