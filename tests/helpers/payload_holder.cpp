// Holds a file open the way a still-running program would: without
// FILE_SHARE_DELETE, so nobody can delete it meanwhile.
//
//   payload_holder <file> <ready-file> <release-file> <time limit in ms>
//
// Opens (or creates) <file>, then creates <ready-file> to say so, and keeps the
// file open until <release-file> exists or the time limit has passed.
// Exit code: 0 released, 1 time limit passed, 2 bad arguments, 3 file not opened.
#include <windows.h>

#include <cwchar>

namespace {

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  const wchar_t* held = argv[1];
  const wchar_t* ready = argv[2];
  const wchar_t* release = argv[3];
  const DWORD limit = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10));

  HANDLE file = CreateFileW(held, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;

  HANDLE signal = CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (signal != INVALID_HANDLE_VALUE) CloseHandle(signal);

  const DWORD start = GetTickCount();
  int code = 1;
  while (GetTickCount() - start < limit) {
    if (Exists(release)) {
      code = 0;
      break;
    }
    Sleep(20);
  }
  CloseHandle(file);
  return code;
}
