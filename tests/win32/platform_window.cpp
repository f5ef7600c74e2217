// The worker window: its layout, log lines, progress, caption, the terminate
// message, the first tool button and the closing of the window.
#include <windows.h>
#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "check.h"
#include "platform/win32/worker_window.h"
#include "shell/ewform.h"

using namespace trelvex;
using win32::WorkerWindow;

namespace {

RECT ClientRectIn(HWND child, HWND parent) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Same(const RECT& r, int left, int top, int right, int bottom) {
  return r.left == left && r.top == top && r.right == right && r.bottom == bottom;
}

std::wstring Text(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Removes messages left behind for the next case (a WM_QUIT included).
void DrainQueue() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace

TEST_CASE("window: fixed dialog frame, client 744 x 307, hidden at first") {
  WorkerWindow w;
  RECT client;
  GetClientRect(w.hwnd(), &client);
  CHECK(Same(client, 0, 0, 744, 307));
  const LONG style = GetWindowLongW(w.hwnd(), GWL_STYLE);
  CHECK((style & WS_THICKFRAME) == 0);
  CHECK((style & WS_MAXIMIZEBOX) == 0);
  CHECK((style & WS_CAPTION) == WS_CAPTION);
  CHECK((GetWindowLongW(w.hwnd(), GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0);
  CHECK(!IsWindowVisible(w.hwnd()));
  CHECK_EQ(w.Handle(), static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(w.hwnd())));
  wchar_t cls[64];
  GetClassNameW(w.hwnd(), cls, 64);
  CHECK(std::wstring(cls) == L"TEWForm");
}

TEST_CASE("window: panel, flat tool bar with two buttons, progress bar, log box") {
  WorkerWindow w;
  CHECK(GetParent(w.panel1()) == w.hwnd());
  CHECK(Same(ClientRectIn(w.panel1(), w.hwnd()), 0, 0, 744, 22));
  CHECK(GetParent(w.panel2()) == w.panel1());
  CHECK(Same(ClientRectIn(w.panel2(), w.panel1()), 0, 0, 46, 22));

  CHECK(GetParent(w.toolBar()) == w.panel2());
  CHECK((GetWindowLongW(w.toolBar(), GWL_STYLE) & TBSTYLE_FLAT) != 0);
  CHECK((GetWindowLongW(w.toolBar(), GWL_STYLE) & WS_BORDER) == 0);
  REQUIRE(SendMessageW(w.toolBar(), TB_BUTTONCOUNT, 0, 0) == 2);
  RECT b0{}, b1{};
  SendMessageW(w.toolBar(), TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&b0));
  SendMessageW(w.toolBar(), TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&b1));
  CHECK_EQ(b0.left, 0L);
  CHECK_EQ(b1.left, 23L);
  for (int i = 0; i < 2; ++i) {
    TBBUTTON button{};
    SendMessageW(w.toolBar(), TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
    CHECK(SendMessageW(w.toolBar(), TB_GETBUTTONTEXTW, button.idCommand, 0) <= 0);  // no caption
  }
  CHECK(SendMessageW(w.toolBar(), TB_GETIMAGELIST, 0, 0) == 0);  // no pictures

  CHECK(GetParent(w.progressBar()) == w.panel1());
  CHECK(Same(ClientRectIn(w.progressBar(), w.panel1()), 46, 0, 744, 22));
  PBRANGE range{};
  SendMessageW(w.progressBar(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  CHECK_EQ(range.iLow, 0);
  CHECK_EQ(range.iHigh, 100);

  CHECK(GetParent(w.logMemo()) == w.hwnd());
  CHECK(Same(ClientRectIn(w.logMemo(), w.hwnd()), 0, 22, 744, 307));
  const LONG memoStyle = GetWindowLongW(w.logMemo(), GWL_STYLE);
  CHECK((memoStyle & ES_MULTILINE) != 0);
  CHECK((memoStyle & ES_READONLY) != 0);
}

TEST_CASE("window: MS Sans Serif, 11 pixels, East European character set") {
  WorkerWindow w;
  for (HWND hwnd : {w.hwnd(), w.logMemo(), w.toolBar()}) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    REQUIRE(font != nullptr);
    LOGFONTW lf{};
    REQUIRE(GetObjectW(font, sizeof lf, &lf) == sizeof lf);
    CHECK_EQ(lf.lfHeight, -11L);
    CHECK_EQ(static_cast<int>(lf.lfCharSet), EASTEUROPE_CHARSET);
    CHECK(std::wstring(lf.lfFaceName) == L"MS Sans Serif");
  }
}

TEST_CASE("window: log lines in Windows-1250 appended one per line") {
  WorkerWindow w;
  w.AddLine("11.12.2026 10:00:00:000 Rozpocz\xEA" "cie pracy");
  w.AddLine("");
  w.AddLine("dwie\nlinie \x9D");
  CHECK_EQ(w.LineCount(), 3);
  CHECK(Text(w.logMemo()) ==
        L"11.12.2026 10:00:00:000 Rozpocz\u0119cie pracy\r\n\r\ndwie\r\nlinie \u0165");
  // An empty first line still counts as a line.
  WorkerWindow v;
  v.AddLine("");
  v.AddLine("b");
  CHECK(Text(v.logMemo()) == L"\r\nb");
}

TEST_CASE("window: long log beyond the edit control's default limit") {
  WorkerWindow w;
  const std::string line(200, 'x');
  for (int i = 0; i < 400; ++i) w.AddLine(line);  // 80 KB
  CHECK(GetWindowTextLengthW(w.logMemo()) == 400 * 200 + 399 * 2);
}

TEST_CASE("window: caption and progress within 0..100") {
  WorkerWindow w;
  w.SetCaption("-ID=5 -DBPATH=C:\\Dane \xA3\xF3" "d\xBF");
  CHECK(Text(w.hwnd()) == L"-ID=5 -DBPATH=C:\\Dane \u0141\u00F3d\u017C");
  const std::pair<int, int> cases[] = {{42, 42}, {-5, 0}, {150, 100}, {100, 100}, {0, 0}};
  for (auto [given, shown] : cases) {
    w.SetProgress(given);
    CHECK_EQ(static_cast<int>(SendMessageW(w.progressBar(), PBM_GETPOS, 0, 0)), shown);
  }
}

TEST_CASE("window: APP_TERMINATE runs the handler once and ends the loop") {
  DrainQueue();
  {
    WorkerWindow w;
    int terminated = 0;
    w.SetTerminateHandler([&] { ++terminated; });
    w.PostTerminate();
    MSG msg;
    REQUIRE(PeekMessageW(&msg, w.hwnd(), 0, 0, PM_NOREMOVE));
    CHECK_EQ(msg.message, static_cast<UINT>(WM_USER + 108));
    CHECK_EQ(msg.message, static_cast<UINT>(kAppTerminate));
    CHECK(msg.wParam == 0 && msg.lParam == 0);
    w.RunMessageLoop();
    CHECK_EQ(terminated, 1);
    CHECK(IsWindow(w.hwnd()));  // the loop ended; the window is destroyed by its owner
  }
  DrainQueue();
}

TEST_CASE("window: closing it ends the loop; a handler's exception stays inside") {
  DrainQueue();
  WorkerWindow w;
  w.SetTerminateHandler([] { throw std::runtime_error("x"); });
  w.PostTerminate();
  w.RunMessageLoop();  // the exception did not escape
  DrainQueue();

  WorkerWindow v;
  PostMessageW(v.hwnd(), WM_CLOSE, 0, 0);
  v.RunMessageLoop();
  CHECK(!IsWindow(v.hwnd()));
  DrainQueue();
}

TEST_CASE("window: the first tool button runs its handler; closing waits for it") {
  DrainQueue();
  WorkerWindow w;
  int clicks = 0;
  bool aliveAfterClose = false;
  w.SetToolButton1Handler([&] {
    ++clicks;
    // The user closes the window while the pass runs.
    SendMessageW(w.hwnd(), WM_CLOSE, 0, 0);
    aliveAfterClose = IsWindow(w.hwnd()) != FALSE;
    w.ProcessMessages();
    // A second click inside the first does not nest.
    SendMessageW(w.panel2(), WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(w.toolBar()));
  });
  // The tool bar's command travels through both panels to the window.
  SendMessageW(w.panel2(), WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(w.toolBar()));
  CHECK_EQ(clicks, 1);
  CHECK(aliveAfterClose);
  w.RunMessageLoop();  // the close follows the pass and ends the loop
  CHECK(!IsWindow(w.hwnd()));

  WorkerWindow v;
  int other = 0;
  v.SetToolButton1Handler([&] { ++other; });
  SendMessageW(v.panel2(), WM_COMMAND, MAKEWPARAM(2, BN_CLICKED), reinterpret_cast<LPARAM>(v.toolBar()));
  CHECK_EQ(other, 0);  // the second button has no action
  DrainQueue();
}

TEST_CASE("window: a close during the first pass waits for its terminate message") {
  DrainQueue();
  WorkerWindow w;
  std::vector<std::string> order;
  w.SetTerminateHandler([&] { order.push_back("terminate"); });
  w.RunPass([&] {
    SendMessageW(w.hwnd(), WM_CLOSE, 0, 0);  // the host closes the hidden window
    order.push_back(IsWindow(w.hwnd()) ? "alive" : "gone");
    w.PostTerminate();  // the end of the pass
  });
  w.RunMessageLoop();
  CHECK(order == (std::vector<std::string>{"alive", "terminate"}));
  CHECK(!IsWindow(w.hwnd()));
  DrainQueue();

  // A pass that raises still lets a later close through.
  WorkerWindow v;
  bool thrown = false;
  try {
    v.RunPass([&] {
      SendMessageW(v.hwnd(), WM_CLOSE, 0, 0);
      throw std::runtime_error("x");
    });
  } catch (const std::runtime_error&) {
    thrown = true;
  }
  CHECK(thrown);
  v.RunMessageLoop();
  CHECK(!IsWindow(v.hwnd()));
  DrainQueue();
}

TEST_CASE("window: ProcessMessages handles pending messages and keeps a quit") {
  DrainQueue();
  WorkerWindow w;
  int terminated = 0;
  w.SetTerminateHandler([&] { ++terminated; });
  w.PostTerminate();
  w.ProcessMessages();
  CHECK_EQ(terminated, 1);
  // The terminate handler asked the loop to end: the quit is still there.
  MSG msg;
  CHECK(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  PostQuitMessage(7);
  w.ProcessMessages();
  CHECK(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  CHECK_EQ(static_cast<int>(msg.wParam), 7);
  DrainQueue();
}
