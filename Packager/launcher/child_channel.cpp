#include "launcher/child_channel.h"

namespace qnvpd {

namespace {

constexpr WORD kIconId = 115;

// The result message keeps the low 16 bits of its wParam with the window as
// the posted exit code (the only state the channel keeps); the quit request
// ends the loop.
LRESULT CALLBACK ChildChannelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kResultMessage:
      // Kept with the window: the loop reads it back once the quit request came.
      SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(wParam & 0xFFFF));
      return 0;
    case kQuitRequest:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void RegisterChannelClass(HINSTANCE instance, const wchar_t* className) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = ChildChannelProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
}

}  // namespace

std::wstring FormatNotifyToken(HWND window) {
  // The handle's 32-bit value as a signed number, as the installer reads it back.
  long value = static_cast<long>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
  return L"/W32:" + std::to_wstring(value) + L":" + std::to_wstring(kResultMessage);
}

const MessagePosting& SystemMessagePosting() {
  static const MessagePosting posting = {PostMessageW};
  return posting;
}

HWND CreateNotifyWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title) {
  HWND window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
  return window;
}

bool ChildChannel::Open(HINSTANCE instance, const wchar_t* className, const wchar_t* title,
                        NotifyWindowFactory create) {
  RegisterChannelClass(instance, className);
  window_ = create(instance, className, title);
  if (window_ == nullptr) return false;  // nothing after it: GetLastError() stays the creation's
  token_ = FormatNotifyToken(window_);
  return true;
}

void ChildChannel::ChildEnded() const {
  if (!posting_.postMessage(window_, kQuitRequest, 0, 0)) PostQuitMessage(0);
}

int ChildChannel::PostedExitCode() const {
  return static_cast<int>(GetWindowLongPtrW(window_, GWLP_USERDATA));
}

int ChildChannel::RunMessageLoop(const RunLog& log) const {
  MSG msg;
  // -1 (a failed call) ends the loop too: retrying it could spin for ever.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == window_ && msg.message == kResultMessage && log.IsOn()) {
      log.Write(L"installer reported result " + std::to_wstring(msg.wParam & 0xFFFF) +
                L" (posted " + std::to_wstring(msg.wParam) + L")");
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return PostedExitCode();
}

void ChildChannel::DrainBeforeFailureBox() const {
  MSG pending;
  while (PeekMessageW(&pending, window_, kQuitRequest, kQuitRequest, PM_REMOVE)) {
  }
  while (PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

void ChildChannel::Close() {
  DestroyWindow(window_);
  window_ = nullptr;
}

}  // namespace qnvpd
