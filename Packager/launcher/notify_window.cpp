#include "launcher/notify_window.h"

#include "launch/child_protocol.h"

namespace qnvpd {

namespace {
constexpr WORD kIconId = 115;
}

void RegisterNotifyWindowClass(HINSTANCE instance, const wchar_t* className) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = NotifyWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
}

HWND CreateNotifyWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title) {
  HWND window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
  return window;
}

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

int RunMessageLoop(HWND window, const RunLog& log) {
  MSG msg;
  // -1 (a failed call) ends the loop too: retrying it could spin for ever.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == window && msg.message == kResultMessage && log.IsOn()) {
      log.Write(L"installer reported result " + std::to_wstring(msg.wParam & 0xFFFF) +
                L" (posted " + std::to_wstring(msg.wParam) + L")");
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace qnvpd
