#pragma once
// The worker window of the Linux build: it keeps its log lines and progress
// value, echoes every line to standard output as UTF-8, and runs the message
// loop over standard input when it is shown.
#include <cstdio>
#include <istream>
#include <string>
#include <vector>

#include "shell/worker_window.h"

namespace trelvex {
class TEWForm;
}

namespace trelvex::posix {

class ConsoleWindow : public IWorkerWindow {
 public:
  explicit ConsoleWindow(std::FILE* echo = stdout) : echo_(echo) {}

  std::int64_t Handle() const override;  // the process id
  void SetCaption(const std::string& text) override { caption_ = text; }
  void AddLine(const std::string& line) override;
  void SetProgress(int position) override;
  void PostTerminate() override { terminatePosted_ = true; }
  void ProcessMessages() override;

  const std::string& Caption() const { return caption_; }
  const std::vector<std::string>& Memo() const { return memo_; }
  int Progress() const { return progress_; }
  bool TerminatePosted() const { return terminatePosted_; }

  // The message loop; returns when the application ends. A posted terminate
  // message runs the form's APP_TERMINATE handler and ends the loop. A shown
  // window then reads commands from `input`: an empty line or "r" runs
  // another pass, "q" or the end of input closes the window. A hidden window
  // has nothing else to wait for and ends the loop at once.
  void Run(TEWForm& form, bool shown, std::istream& input);

 private:
  std::FILE* echo_;
  std::string caption_;
  std::vector<std::string> memo_;
  int progress_ = 0;
  bool terminatePosted_ = false;
};

}  // namespace trelvex::posix
