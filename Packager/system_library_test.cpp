#include "system_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qnvpd {
namespace {

struct LoadCall {
  std::wstring fileName;
  DWORD flags;
};
std::vector<LoadCall> g_loads;
int g_systemFolderAnswer = -1;  // -1: the real query's

HMODULE WINAPI RecordingLoad(LPCWSTR fileName, HANDLE reserved, DWORD flags) {
  g_loads.push_back({fileName, flags});
  return LoadLibraryExW(fileName, reserved, flags);
}

UINT WINAPI SystemFolder(LPWSTR buffer, UINT capacity) {
  const UINT length = GetSystemDirectoryW(buffer, capacity);
  return g_systemFolderAnswer >= 0 ? static_cast<UINT>(g_systemFolderAnswer) : length;
}

LibraryLoading Loading(bool searchFlagsSupported) {
  g_loads.clear();
  g_systemFolderAnswer = -1;
  return LibraryLoading{searchFlagsSupported, SystemFolder, RecordingLoad};
}

std::wstring SystemFolderPath() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

// XP, Vista and 7 without KB2533623: a bare name would be looked for beside
// the program first, so only the full path in the system folder is loaded.
TEST(SystemLibraryTest, WithoutTheSearchFlagsLoadsByTheFullSystemFolderPathOnly) {
  for (const wchar_t* name : {L"userenv.dll", L"USER32.dll", L"version.dll"}) {
    const LibraryLoading loading = Loading(false);
    HMODULE module = LoadSystemLibrary(name, loading);
    const std::wstring fullPath = SystemFolderPath() + L"\\" + name;
    ASSERT_EQ(1u, g_loads.size()) << "never a second try, by bare name or otherwise";
    EXPECT_EQ(fullPath, g_loads[0].fileName);
    EXPECT_EQ(static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH), g_loads[0].flags)
        << "the DLL's own imports are looked for from the system folder first";
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(GetModuleHandleW(fullPath.c_str()), module);
    FreeLibrary(module);
  }
}

TEST(SystemLibraryTest, WithTheSearchFlagsLoadsByNameFromTheSystemFolderOnly) {
  const LibraryLoading loading = Loading(true);
  HMODULE module = LoadSystemLibrary(L"userenv.dll", loading);
  ASSERT_EQ(1u, g_loads.size());
  EXPECT_EQ(L"userenv.dll", g_loads[0].fileName);
  EXPECT_EQ(static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32), g_loads[0].flags);
  ASSERT_NE(nullptr, module);
  FreeLibrary(module);

  // This system's answer (Wine has the flags), the same DLL.
  EXPECT_TRUE(SystemLibraryLoading().searchFlagsSupported);
  module = LoadSystemLibrary(L"userenv.dll");
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(GetModuleHandleW((SystemFolderPath() + L"\\userenv.dll").c_str()), module);
  FreeLibrary(module);
}

// Nothing that could point the load elsewhere is loaded at all, in either mode.
TEST(SystemLibraryTest, RefusesNamesWithAPathAndFoldersThatDoNotFit) {
  for (bool flags : {false, true}) {
    for (const wchar_t* name : {L"..\\userenv.dll", L"sub/userenv.dll", L"C:userenv.dll", L"",
                                static_cast<const wchar_t*>(nullptr)}) {
      const LibraryLoading loading = Loading(flags);
      SetLastError(0);
      EXPECT_EQ(nullptr, LoadSystemLibrary(name, loading)) << flags;
      EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
      EXPECT_TRUE(g_loads.empty());
    }
  }
  // A system folder query that fails or does not fit, and a path too long.
  for (int answer : {0, MAX_PATH, 300}) {
    const LibraryLoading loading = Loading(false);
    g_systemFolderAnswer = answer;
    EXPECT_EQ(nullptr, LoadSystemLibrary(L"userenv.dll", loading)) << answer;
    EXPECT_TRUE(g_loads.empty());
  }
  const LibraryLoading loading = Loading(false);
  const std::wstring longName(MAX_PATH - SystemFolderPath().size() - 1, L'a');
  EXPECT_EQ(nullptr, LoadSystemLibrary(longName.c_str(), loading));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
  EXPECT_TRUE(g_loads.empty()) << "a path that does not fit is never cut short";
}

}  // namespace
}  // namespace qnvpd
