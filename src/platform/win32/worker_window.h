#pragma once
// The worker window of the Windows build: a fixed dialog-style window with a
// tool bar and a progress bar at the top and the read-only run log below.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "shell/worker_window.h"

namespace trelvex::win32 {

// Layout of the window, in pixels.
inline constexpr int kClientWidth = 744;
inline constexpr int kClientHeight = 307;
inline constexpr int kPanelHeight = 22;
inline constexpr int kToolPanelWidth = 46;
inline constexpr int kToolButtonWidth = 23;
inline constexpr int kFontHeight = 11;

// The hidden top-level window that stands for the process (its title is the
// application title); the host is told its handle as the sender.
class ApplicationWindow {
 public:
  explicit ApplicationWindow(const std::string& title);
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;

  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

class WorkerWindow : public IWorkerWindow {
 public:
  // Creates the window hidden.
  WorkerWindow();
  ~WorkerWindow() override;
  WorkerWindow(const WorkerWindow&) = delete;
  WorkerWindow& operator=(const WorkerWindow&) = delete;

  std::int64_t Handle() const override;
  void SetCaption(const std::string& text) override;
  void AddLine(const std::string& line) override;
  void SetProgress(int position) override;
  void PostTerminate() override;
  void ProcessMessages() override;

  // What the window runs on APP_TERMINATE (before the message loop ends) and
  // on a click of the first tool button.
  void SetTerminateHandler(std::function<void()> handler) { onTerminate_ = std::move(handler); }
  void SetToolButton1Handler(std::function<void()> handler) { onToolButton1_ = std::move(handler); }

  // Runs a pass outside the message loop (the first one, inside the window's
  // creation); a request to close the window meanwhile waits for its end.
  void RunPass(const std::function<void()>& pass);

  void Show();
  // Runs the message loop until APP_TERMINATE or the closing of the window
  // ends it.
  void RunMessageLoop();

  HWND hwnd() const { return hwnd_; }
  HWND panel1() const { return panel1_; }
  HWND panel2() const { return panel2_; }
  HWND toolBar() const { return toolBar_; }
  HWND progressBar() const { return progress_; }
  HWND logMemo() const { return memo_; }
  int LineCount() const { return lines_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void CreateControls();

  HWND hwnd_ = nullptr;
  HWND panel1_ = nullptr;
  HWND panel2_ = nullptr;
  HWND toolBar_ = nullptr;
  HWND progress_ = nullptr;
  HWND memo_ = nullptr;
  HFONT font_ = nullptr;
  int lines_ = 0;
  void EndPass();

  bool inPass_ = false;        // a pass is running
  bool closePending_ = false;  // closing asked for while it ran
  bool destroying_ = false;    // destroyed by the destructor, not by the user
  std::function<void()> onTerminate_;
  std::function<void()> onToolButton1_;
};

}  // namespace trelvex::win32
