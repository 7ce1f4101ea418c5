#include "launcher/notify_window.h"

#include "launcher/process_state.h"

namespace qnvpd {

namespace {
constexpr WORD kIconId = 115;
}

void PostQuitRequest(HWND window, PostMessageFn post) {
  if (!post(window, kQuitRequest, 0, 0)) PostQuitMessage(0);
}

void RegisterNotifyWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = NotifyWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = g_state.className;
  RegisterClassExW(&wc);
}

int CreateNotifyWindow(HINSTANCE instance) {
  g_state.notifyWindow =
      CreateWindowExW(0, g_state.className, g_state.windowTitle, WS_OVERLAPPEDWINDOW,
                      CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (g_state.notifyWindow == nullptr) return 0;
  ShowWindow(g_state.notifyWindow, SW_HIDE);
  UpdateWindow(g_state.notifyWindow);
  return 1;
}

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_USER:
      g_state.postedExitCode = static_cast<int>(wParam & 0xFFFF);
      return 0;
    case kQuitRequest:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

std::wstring FormatNotifyToken(HWND window) {
  // The handle's 32-bit value as a signed number, as the installer reads it back.
  long value = static_cast<long>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
  return L"/W32:" + std::to_wstring(value) + L":" + std::to_wstring(WM_USER);
}

int RunMessageLoop() {
  MSG msg;
  // -1 (a failed call) ends the loop too: retrying it could spin for ever.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return g_state.postedExitCode;
}

}  // namespace qnvpd
