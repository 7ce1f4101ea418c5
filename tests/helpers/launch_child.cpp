// A child program for the launch tests.
//
//   launch_child.exe [EXIT] [post HWND VALUE] [patience MS] [dialog CLASS] [anything else...]
//
// EXIT      the exit code (decimal, default 0)
// post      posts WM_USER with wParam VALUE to window HWND (decimal) before ending
// dialog    shows a top-level window of class CLASS without activating it and
//           waits (at most 4 s, or the patience given before it) for it to be
//           brought to the front
//
// When QNVPD_LAUNCH_RECORD names a file, appends lines to it (UTF-8):
//   ran=<own path>|<command line as received>
//   cwd=<current folder>
//   startup=<STARTUPINFO flags>,<show command>
//   activated=<class>          when the dialog was brought to the front
// Unknown arguments are ignored, so tests can pad the command line.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

bool g_activated = false;
DWORD g_patienceMs = 4000;

void Record(const std::wstring& line) {
  wchar_t file[1024];
  DWORD n = GetEnvironmentVariableW(L"QNVPD_LAUNCH_RECORD", file, 1024);
  if (n == 0 || n >= 1024) return;
  std::wstring text = line + L"\r\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string utf8(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes,
                      nullptr, nullptr);
  HANDLE f = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(f);
}

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) g_activated = true;
  return DefWindowProcW(window, message, wParam, lParam);
}

void ShowDialogAndWait(const wchar_t* className) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DialogProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
  HWND window = CreateWindowExW(0, className, L"launch child", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return;
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  g_activated = false;  // only activation from outside counts
  const ULONGLONG until = GetTickCount64() + g_patienceMs;
  while (!g_activated && GetTickCount64() < until) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (GetForegroundWindow() == window) g_activated = true;
    Sleep(10);
  }
  if (g_activated) Record(std::wstring(L"activated=") + className);
  DestroyWindow(window);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[1024] = {};
  GetModuleFileNameW(nullptr, self, 1024);
  Record(std::wstring(L"ran=") + self + L"|" + GetCommandLineW());
  wchar_t cwd[1024] = {};
  GetCurrentDirectoryW(1024, cwd);
  Record(std::wstring(L"cwd=") + cwd);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  Record(L"startup=" + std::to_wstring(startup.dwFlags) + L"," +
         std::to_wstring(startup.wShowWindow));

  int exitCode = 0;
  int i = 1;
  if (i < argc && std::iswdigit(argv[i][0]))
    exitCode = static_cast<int>(std::wcstoul(argv[i++], nullptr, 10));
  HWND postTo = nullptr;
  WPARAM postValue = 0;
  for (; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"post") == 0 && i + 2 < argc) {
      postTo = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstol(argv[i + 1], nullptr, 10)));
      postValue = std::wcstoul(argv[i + 2], nullptr, 10);
      i += 2;
    } else if (std::wcscmp(argv[i], L"patience") == 0 && i + 1 < argc) {
      g_patienceMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (std::wcscmp(argv[i], L"dialog") == 0 && i + 1 < argc) {
      ShowDialogAndWait(argv[++i]);
    }
  }
  if (postTo != nullptr) PostMessageW(postTo, WM_USER, postValue, 0);
  return exitCode;
}
