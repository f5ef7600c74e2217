#include "platform/win32/worker_window.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "common/encoding.h"
#include "shell/ewform.h"

namespace trelvex::win32 {

namespace {

constexpr wchar_t kFormClass[] = L"TEWForm";
constexpr wchar_t kPanelClass[] = L"TPanel";
constexpr wchar_t kApplicationClass[] = L"TApplication";
constexpr int kToolButton1Id = 1;
constexpr int kToolButton2Id = 2;

static_assert(kAppTerminate == WM_USER + 108, "APP_TERMINATE is WM_USER + 108");

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// Panels pass the commands of their children (the tool bar) up to the form.
LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND || msg == WM_NOTIFY) {
    return SendMessageW(GetParent(hwnd), msg, wParam, lParam);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  WNDCLASSEXW form{};
  form.cbSize = sizeof(form);
  form.lpfnWndProc = DefWindowProcW;  // replaced per window once it is created
  form.hInstance = Instance();
  form.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  form.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form.lpszClassName = kFormClass;
  RegisterClassExW(&form);

  WNDCLASSEXW panel{};
  panel.cbSize = sizeof(panel);
  panel.lpfnWndProc = PanelProc;
  panel.hInstance = Instance();
  panel.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  panel.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  panel.lpszClassName = kPanelClass;
  RegisterClassExW(&panel);

  WNDCLASSEXW application{};
  application.cbSize = sizeof(application);
  application.lpfnWndProc = DefWindowProcW;
  application.hInstance = Instance();
  application.lpszClassName = kApplicationClass;
  RegisterClassExW(&application);
  done = true;
}

// Line breaks inside a log line shown as such in the edit control (CR LF).
std::wstring DisplayText(const std::string& line) {
  const std::wstring wide = Cp1250ToWide(line);
  std::wstring text;
  text.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (c == L'\r') {
      text += L"\r\n";
      if (i + 1 < wide.size() && wide[i + 1] == L'\n') ++i;
    } else if (c == L'\n') {
      text += L"\r\n";
    } else if (c != L'\0') {
      text += c;
    }
  }
  return text;
}

// No exception may unwind through the system's frames of a window procedure.
void RunHandler(const std::function<void()>& handler) {
  if (!handler) return;
  try {
    handler();
  } catch (...) {
  }
}

}  // namespace

ApplicationWindow::ApplicationWindow(const std::string& title) {
  RegisterClasses();
  const std::wstring caption = Cp1250ToWide(title);
  hwnd_ = CreateWindowExW(0, kApplicationClass, caption.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                          0, 0, 0, 0, nullptr, nullptr, Instance(), nullptr);
  if (hwnd_ == nullptr) throw std::runtime_error("cannot create the application window");
}

ApplicationWindow::~ApplicationWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

WorkerWindow::WorkerWindow() {
  RegisterClasses();
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  hwnd_ = CreateWindowExW(exStyle, kFormClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                          Instance(), nullptr);
  if (hwnd_ == nullptr) throw std::runtime_error("cannot create the worker window");
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WorkerWindow::WindowProc));
  // Whatever the frame turned out to be, the client area is what counts.
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (client.right != kClientWidth || client.bottom != kClientHeight) {
    RECT window{};
    GetWindowRect(hwnd_, &window);
    SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left + kClientWidth - client.right,
                 window.bottom - window.top + kClientHeight - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CreateControls();
}

WorkerWindow::~WorkerWindow() {
  destroying_ = true;
  if (hwnd_ != nullptr && IsWindow(hwnd_)) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (font_ != nullptr) DeleteObject(font_);
}

void WorkerWindow::CreateControls() {
  font_ = CreateFontW(-kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, EASTEUROPE_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  panel1_ = CreateWindowExW(0, kPanelClass, L"", child | WS_CLIPCHILDREN, 0, 0, kClientWidth,
                            kPanelHeight, hwnd_, nullptr, Instance(), nullptr);
  panel2_ = CreateWindowExW(0, kPanelClass, L"", child | WS_CLIPCHILDREN, 0, 0, kToolPanelWidth,
                            kPanelHeight, panel1_, nullptr, Instance(), nullptr);
  toolBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                             child | TBSTYLE_FLAT | CCS_NORESIZE | CCS_NODIVIDER | CCS_NOPARENTALIGN |
                                 CCS_TOP,
                             0, 0, kToolPanelWidth, kPanelHeight, panel2_, nullptr, Instance(), nullptr);
  SendMessageW(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageW(toolBar_, TB_SETIMAGELIST, 0, 0);
  SendMessageW(toolBar_, TB_SETINDENT, 0, 0);
  TBBUTTON buttons[2]{};
  const int ids[2] = {kToolButton1Id, kToolButton2Id};
  for (int i = 0; i < 2; ++i) {
    buttons[i].iBitmap = I_IMAGENONE;
    buttons[i].idCommand = ids[i];
    buttons[i].fsState = TBSTATE_ENABLED;
    buttons[i].fsStyle = BTNS_BUTTON;
    buttons[i].iString = -1;
  }
  SendMessageW(toolBar_, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
  SendMessageW(toolBar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(kToolButtonWidth, kPanelHeight));
  // Buttons without picture or caption would shrink to their padding.
  for (int id : ids) {
    TBBUTTONINFOW info{};
    info.cbSize = sizeof(info);
    info.dwMask = TBIF_SIZE;
    info.cx = kToolButtonWidth;
    SendMessageW(toolBar_, TB_SETBUTTONINFOW, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&info));
  }

  progress_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, child, kToolPanelWidth, 0,
                              kClientWidth - kToolPanelWidth, kPanelHeight, panel1_, nullptr,
                              Instance(), nullptr);
  SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
  SendMessageW(progress_, PBM_SETPOS, 0, 0);

  memo_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                          child | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0,
                          kPanelHeight, kClientWidth, kClientHeight - kPanelHeight, hwnd_, nullptr,
                          Instance(), nullptr);
  SendMessageW(memo_, EM_SETLIMITTEXT, 0, 0);  // no 32 KB limit for a long run

  for (HWND control : {panel1_, panel2_, toolBar_, progress_, memo_}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
}

std::int64_t WorkerWindow::Handle() const {
  return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(hwnd_));
}

void WorkerWindow::SetCaption(const std::string& text) {
  SetWindowTextW(hwnd_, DisplayText(text).c_str());
}

void WorkerWindow::AddLine(const std::string& line) {
  std::wstring text = DisplayText(line);
  if (lines_ > 0) text.insert(0, L"\r\n");
  const LRESULT length = SendMessageW(memo_, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(memo_, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
  SendMessageW(memo_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  ++lines_;
}

void WorkerWindow::SetProgress(int position) {
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(std::clamp(position, 0, 100)), 0);
}

void WorkerWindow::PostTerminate() { PostMessageW(hwnd_, kAppTerminate, 0, 0); }

void WorkerWindow::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The loop that runs the application has to see it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void WorkerWindow::RunPass(const std::function<void()>& pass) {
  inPass_ = true;
  try {
    pass();
  } catch (...) {
    EndPass();
    throw;
  }
  EndPass();
}

void WorkerWindow::EndPass() {
  inPass_ = false;
  if (closePending_) {
    // Closed through the queue, after what the pass posted (APP_TERMINATE).
    closePending_ = false;
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  }
}

void WorkerWindow::Show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
}

void WorkerWindow::RunMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK WorkerWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<WorkerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->HandleMessage(msg, wParam, lParam);
}

LRESULT WorkerWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kAppTerminate:
      RunHandler(onTerminate_);
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kToolButton1Id) {
        if (!inPass_) {
          inPass_ = true;
          RunHandler(onToolButton1_);
          EndPass();
        }
        return 0;
      }
      break;
    case WM_CLOSE:
      // A pass that is running finishes first; the window closes after it.
      if (inPass_) {
        closePending_ = true;
      } else {
        DestroyWindow(hwnd_);
      }
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_DESTROY:
      if (!destroying_) PostQuitMessage(0);
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only log keeps the colours of an ordinary text box.
      if (reinterpret_cast<HWND>(lParam) == memo_) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

}  // namespace trelvex::win32
