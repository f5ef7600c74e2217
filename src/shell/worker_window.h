#pragma once
// The worker window as the shell sees it; each platform implements it.
#include <cstdint>
#include <string>

namespace trelvex {

class IWorkerWindow {
 public:
  virtual ~IWorkerWindow() = default;
  // The value that START carries (the worker window's handle).
  virtual std::int64_t Handle() const = 0;
  virtual void SetCaption(const std::string& text) = 0;
  // Appends one finished line (time stamp included) to the on-screen log.
  virtual void AddLine(const std::string& line) = 0;
  virtual void SetProgress(int position) = 0;  // 0..100
  // Posts APP_TERMINATE to the window itself.
  virtual void PostTerminate() = 0;
  // Lets pending window messages be processed (between requests).
  virtual void ProcessMessages() = 0;
};

}  // namespace trelvex
