#include "shell/ewform.h"

#include <fstream>
#include <memory>
#include <system_error>

#include "common/datetime.h"
#include "common/encoding.h"
#include "common/error.h"
#include "common/platform.h"
#include "common/text.h"
#include "shell/switches.h"

namespace trelvex {

namespace {

constexpr const char* kGoContext = "TEWForm.Go";

// Clears a flag when the scope ends, however it ends.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

std::string UnknownErrorText() {
  return std::string(kGoContext) + " Exception \"Nieznany b\xB3\xB9" "d\"";
}

}  // namespace

TEWForm::TEWForm(IWorkerWindow& window, IHostLink& host, RequestExporterFactory exporters)
    : window_(window), host_(host), exporters_(std::move(exporters)) {}

void TEWForm::AddLog(const std::string& text) {
  std::string line;
  if (!Trim(text).empty()) line = FormatLogStamp(Now()) + " " + text;
  lines_.push_back(line);
  window_.AddLine(line);
}

void TEWForm::SetProgress(int value) {
  if (value < 0) value = 0;
  if (value > 100) value = 100;
  window_.SetProgress(value);
}

void TEWForm::ProcessMessages() { window_.ProcessMessages(); }

std::string TEWForm::ParamsText() const {
  std::vector<std::string> params = platform::CommandLineParams();
  std::string text;
  for (std::size_t i = 1; i < params.size(); ++i) text += params[i] + " ";
  return Trim(text);
}

void TEWForm::FormCreate() {
  std::string caption = ParamsText();
  window_.SetCaption(caption);
  AddLog("Uruchomienie aplikacji");
  AddLog(TextFromPath(platform::ProgramFile()));
  AddLog(caption);
  Go();
}

void TEWForm::Go() {
  if (running_) return;  // a pass is already under way further up the stack
  FlagGuard guard(running_);

  AddLog("");
  std::int32_t result = 2;

  // Sends through the session while there is one; a session that could not
  // be created still gets its ERROR and KONIEC to the host and the log.
  auto notify = [this](std::int32_t code, std::int32_t value, const std::string& text) {
    try {
      if (DM) {
        DM->Notify(code, value, text);
        return;
      }
      HostNotice notice = MakeHostNotice(code, value, text);
      std::int64_t hostWnd = StrToInt64Def(SwitchValue("HANDLE"), 0);
      if (hostWnd != 0) host_.Send(hostWnd, notice);
      AddLog(NoticeLogText(notice));
    } catch (...) {
      // A notification that cannot be delivered is not an error of the pass.
    }
  };

  std::unique_ptr<TDM> dm;
  try {
    dm = std::make_unique<TDM>(*this, host_, exporters_);
    DM = dm.get();
    DM->Notify(kNoticeStart, static_cast<std::int32_t>(window_.Handle()),
               platform::FileVersionText(platform::ProgramFile()));
    result = DM->Work();
  } catch (const std::exception& e) {
    result = 2;
    notify(kNoticeError, 0, ExceptionText(kGoContext, e));
  } catch (...) {
    result = 2;
    notify(kNoticeError, 0, UnknownErrorText());
  }
  notify(kNoticeEnd, result, "");
  DM = nullptr;
  dm.reset();

  if (!StayOpen) window_.PostTerminate();
}

void TEWForm::ToolButton1Click() {
  if (running_) return;
  Go();
}

void TEWForm::AppTerminate() {
  AddLog("Otrzymano komunikat \"APP_TERMINATE\"");
  if (LogLevel > 0) {
    try {
      SaveLog();
    } catch (...) {
      // The log file is a courtesy; the worker ends anyway.
    }
  }
}

std::filesystem::path TEWForm::SaveLog() {
  namespace fs = std::filesystem;
  const fs::path program = platform::ProgramFile();
  const fs::path dir = program.parent_path() / "Log";
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) fs::create_directory(dir, ec);  // failure shows on open

  const std::string name =
      FormatLogFileStamp(Now()) + "_" + TextFromPath(program.filename()) + ".log";
  const fs::path file = dir / PathFromText(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw Exception("Nie mo\xBF" "na zapisa\xE6 pliku " + TextFromPath(file));
  for (const std::string& line : lines_) {
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.write("\r\n", 2);
  }
  out.close();
  if (!out) throw Exception("Nie mo\xBF" "na zapisa\xE6 pliku " + TextFromPath(file));
  return file;
}

}  // namespace trelvex
