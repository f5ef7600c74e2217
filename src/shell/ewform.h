#pragma once
// The worker window's logic: log lines, the export pass, the log file.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "session/dm.h"
#include "shell/worker_window.h"

namespace trelvex {

constexpr unsigned kAppTerminate = 0x0400 + 108;  // WM_USER + 108

class TEWForm : public ILogSink {
 public:
  TEWForm(IWorkerWindow& window, IHostLink& host, RequestExporterFactory exporters);

  // Creation: caption, start-up lines, then one pass.
  void FormCreate();
  // One export pass.
  void Go();
  // Runs another pass unless one is running.
  void ToolButton1Click();
  // APP_TERMINATE: logs it and saves the log file when LogLevel > 0. The
  // platform ends the message loop afterwards.
  void AppTerminate();

  void AddLog(const std::string& text) override;
  void SetProgress(int value) override;
  void ProcessMessages() override;

  std::string ParamsText() const;
  const std::vector<std::string>& Lines() const { return lines_; }
  // Writes the log file into Log/ beside the program file; returns its path.
  std::filesystem::path SaveLog();

 private:
  IWorkerWindow& window_;
  IHostLink& host_;
  RequestExporterFactory exporters_;
  std::vector<std::string> lines_;
  bool running_ = false;
};

}  // namespace trelvex
