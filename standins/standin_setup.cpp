// Stand-in for the carried product installer. It honours what the package
// expects of the real one: it reads NotifyToken from its command line, may show
// a "TSetDialog" window, posts its result as WM_USER to the package's window and
// ends by itself. On the way it records what it found (command line, current
// folder, the files beside it, PORTS.dat) in the report file.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "standin_common.h"

namespace {

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Lists every file below folder as "relative path|size|digest".
void ReportTree(const std::wstring& folder, const std::wstring& prefix) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring full = folder + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ReportTree(full, prefix + name + L"\\");
    } else {
      unsigned long long size = 0;
      std::wstring digest = standin::FileDigest(full, &size);
      standin::Report(L"setup.file", prefix + name + L"|" + std::to_wstring(size) + L"|" + digest);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

HWND ParseNotifyWindow(const wchar_t* cmd) {
  const wchar_t* token = std::wcsstr(cmd, L"/W32:");
  if (!token) return nullptr;
  long value = std::wcstol(token + 5, nullptr, 10);
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(value));
}

void CopyPortsFile(const std::wstring& folder) {
  std::wstring source = folder + L"\\PORTS.dat";
  std::wstring copy = standin::ReportPath() + L".PORTS.dat";
  if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
    DeleteFileW(copy.c_str());
    standin::Report(L"setup.portsdat", L"missing");
    return;
  }
  CopyFileW(source.c_str(), copy.c_str(), FALSE);
  unsigned long long size = 0;
  standin::FileDigest(source, &size);
  standin::Report(L"setup.portsdat", std::to_wstring(size));
}

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcW(window, message, w, l);
}

HWND ShowDialog(const std::wstring& cls) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DialogProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = cls.c_str();
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, cls.c_str(), L"Stand-in installer", WS_OVERLAPPEDWINDOW, 0, 0,
                                320, 200, nullptr, nullptr, wc.hInstance, nullptr);
  if (window) ShowWindow(window, SW_SHOWNORMAL);
  return window;
}

void Pump(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (GetTickCount() - start < ms);
}

// Waits, as SendMessage does, until every top-level window has answered.
void BroadcastIfAsked(const wchar_t* when) {
  if (standin::Env(L"QNVPD_STANDIN_BROADCAST") != when) return;
  SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
               reinterpret_cast<LPARAM>(L"Environment"));
  standin::Report(L"setup.broadcast", when);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  const wchar_t* cmd = GetCommandLineW();
  std::wstring self = standin::ModulePath(nullptr);
  std::wstring folder = FolderOf(self);

  BroadcastIfAsked(L"start");
  standin::Report(L"setup", self);
  standin::Report(L"setup.commandline", cmd);
  standin::Report(L"setup.cwd", standin::CurrentFolder());
  standin::Report(L"setup.pid", std::to_wstring(GetCurrentProcessId()));
  HWND notify = ParseNotifyWindow(cmd);
  standin::Report(L"setup.notifywindow", std::to_wstring(reinterpret_cast<LONG_PTR>(notify)));
  ReportTree(folder, L"");
  CopyPortsFile(folder);

  std::wstring dialogClass = standin::Env(L"QNVPD_STANDIN_DIALOG");
  HWND dialog = dialogClass.empty() ? nullptr : ShowDialog(dialogClass);
  if (dialog) {
    standin::Report(L"setup.dialog", dialogClass);
    // Long enough for the package to find the dialog and raise it.
    Pump(1500);
    standin::Report(L"setup.dialog.foreground", GetForegroundWindow() == dialog ? L"1" : L"0");
  }

  standin::HoldIfAsked();

  std::wstring posts = standin::Env(L"QNVPD_STANDIN_POST");
  const wchar_t* p = posts.c_str();
  while (*p) {
    wchar_t* end = nullptr;
    unsigned long value = std::wcstoul(p, &end, 0);
    if (end == p) break;
    BOOL ok = PostMessageW(notify, WM_USER, static_cast<WPARAM>(value), 0);
    standin::Report(L"setup.posted", std::to_wstring(value) + (ok ? L"" : L" (failed)"));
    p = end;
    while (*p == L',' || *p == L' ') ++p;
  }

  BroadcastIfAsked(L"end");
  if (dialog) DestroyWindow(dialog);
  int code = standin::EnvInt(L"QNVPD_STANDIN_EXIT", 0);
  standin::Report(L"setup.exit", std::to_wstring(code));
  return code;
}
