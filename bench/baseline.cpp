// The benchmark's baseline: the work any such package cannot avoid. It writes
// the same resources to the same tree with the same flags, starts the same
// setup.exe, waits for it and deletes the tree; no checks, no window, no
// registry, no PORTS.dat.
//
// Built a second time with BASELINE_GUI: then it also starts as a GUI program
// does (common controls, one hidden window), which under Wine costs a fixed
// amount per process that has nothing to do with the package's own work.
//
// Built a third time with BASELINE_JOB (the floor of the whole prescribed
// job): the GUI start plus exactly the steps every run of the package must do
// beyond that: zlib's CRC-32 of each resource before it is written, a two-line
// PORTS.dat through _wfopen("wt"), and the 10 ms pause after the installer has
// ended. It notes the package's phase marks, so the two can be set side by side.
#ifdef BASELINE_JOB
#define BASELINE_GUI
#endif
#include <windows.h>
#ifdef BASELINE_GUI
#include <commctrl.h>
#endif
#ifdef BASELINE_JOB
#include <zlib.h>

#include <cstdio>

#include "phase_times.h"
#endif

#include <string>

#ifndef BASELINE_JOB
namespace qnvpd {
inline void MarkPhase(const char*) {}
inline void WritePhaseTimes() {}
}  // namespace qnvpd
#endif

namespace {

struct Row {
  WORD id;
  const char* folder;
  const char* name;
};

const Row kRows[] = {
#define PAYLOAD_FILE(id, folderEnum, nameId, folder, name, productBytes) {id, folder, name},
#define REMOVAL_FILE(id, nameId, name, productBytes)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
};

std::wstring Widen(const char* s) {
  std::wstring w;
  for (; *s; ++s) w += (*s == '/') ? L'\\' : static_cast<wchar_t>(*s);
  return w;
}

void CreateFolders(const std::wstring& root, const std::wstring& rel) {
  size_t pos = 0;
  while (pos != std::wstring::npos) {
    pos = rel.find(L'\\', pos + 1);
    CreateDirectoryW((root + rel.substr(0, pos)).c_str(), nullptr);
  }
}

void DeleteTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteTree(full);
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

#ifdef BASELINE_GUI
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcW(window, message, w, l);
}
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  qnvpd::MarkPhase("load");
#ifdef BASELINE_GUI
  INITCOMMONCONTROLSEX icc = {sizeof icc, 0xFF};
  InitCommonControlsEx(&icc);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"BaselineWindow";
  RegisterClassExW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_HIDE);
#else
  (void)instance;
#endif
  qnvpd::MarkPhase("window");
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring root = std::wstring(temp) + L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\";
  CreateDirectoryW(root.c_str(), nullptr);
  qnvpd::MarkPhase("root");
  for (const Row& row : kRows) {
    std::wstring folder = Widen(row.folder);
    if (!folder.empty()) CreateFolders(root, folder);
    std::wstring path = root + (folder.empty() ? L"" : folder + L"\\") + Widen(row.name);
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(row.id), RT_RCDATA);
    if (!res) continue;
    DWORD size = SizeofResource(nullptr, res);
    const void* data = LockResource(LoadResource(nullptr, res));
#ifdef BASELINE_JOB
    static volatile uLong sink;
    sink = crc32(0L, static_cast<const Bytef*>(data), size);
#endif
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    WriteFile(f, data, size, &written, nullptr);
    CloseHandle(f);
  }
  qnvpd::MarkPhase("payload");
#ifdef BASELINE_JOB
  if (FILE* ports = _wfopen((root + L"PORTS.dat").c_str(), L"wt")) {
    std::fputs("[PORTS]\n[QNVPD]\n", ports);
    std::fclose(ports);
  }
#endif
  qnvpd::MarkPhase("ports-file");
  std::wstring setup = root + L"setup.exe";
  std::wstring cmd = L"\"" + setup + L"\" /clone_wait";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(setup.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                     &pi)) {
    qnvpd::MarkPhase("child-start");
    WaitForSingleObject(pi.hProcess, INFINITE);
    qnvpd::MarkPhase("child-wait");
#ifdef BASELINE_JOB
    Sleep(10);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
#endif
    qnvpd::MarkPhase("exit-code");
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  DeleteTree(root.substr(0, root.size() - 1));
  qnvpd::MarkPhase("cleanup");
  qnvpd::WritePhaseTimes();
  return 0;
}
