// DLLs planted beside the package, as anyone can leave them in a Downloads
// folder: the elevated package must load none of them, neither through its own
// imports nor through the system DLLs it loads.
//
// Windows looks in the application's folder first for every DLL that is not a
// KnownDLL; Wine prefers its own copies. Wine's per-program DllOverrides key
// (the registry form of WINEDLLOVERRIDES) tells it to prefer native files of
// the planted names for programs called QNVPDSetup.exe, so a planted copy is
// found first, as on Windows. WINEDLLOVERRIDES itself cannot do it from here:
// Wine 8 reads it from the Unix environment a program inherits, not from the
// environment block CreateProcessW hands over (set there, today's package
// loaded none of the planted DLLs).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package_runner.h"

namespace qnvpd_test {
namespace {

const wchar_t* const kPlantedNames[] = {L"version", L"imm32",     L"uxtheme",
                                        L"dwmapi",  L"cryptbase", L"userenv"};

// "version,imm32,uxtheme,dwmapi,cryptbase,userenv=n,b" for programs of the
// package's file name while it lives; removed again at its end.
class PreferNativePlantedNames {
 public:
  PreferNativePlantedNames() {
    for (const wchar_t* name : kPlantedNames) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_SZ, L"native,builtin",
                      sizeof L"native,builtin");
    }
  }
  ~PreferNativePlantedNames() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

 private:
  static constexpr const wchar_t* kKey =
      L"Software\\Wine\\AppDefaults\\QNVPDSetup.exe\\DllOverrides";
};

// The marks the planted DLLs left in `folder`: one "<name>.dll.loaded" per DLL
// some process loaded.
std::vector<std::wstring> Marks(const std::wstring& folder) {
  std::vector<std::wstring> marks;
  for (const std::wstring& name : EntryNames(folder)) {
    if (name.size() > 7 && name.compare(name.size() - 7, 7, L".loaded") == 0) {
      marks.push_back(name);
    }
  }
  return marks;
}

TEST(PlantedDllE2eTest, NoneIsLoadedByAnInstallOrARemovalRun) {
  const std::wstring own = ScratchDir() + L"\\planted";
  DeleteTree(own);
  ASSERT_TRUE(CreateDirectoryW(own.c_str(), nullptr));
  const std::wstring downloads = own + L"\\Downloads";
  const std::wstring temp = own + L"\\temp";
  ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  const std::wstring package = downloads + L"\\QNVPDSetup.exe";
  ASSERT_TRUE(CopyFileW(PackagePath().c_str(), package.c_str(), FALSE)) << Narrow(PackagePath());
  for (const wchar_t* name : kPlantedNames) {
    const std::wstring dll = std::wstring(name) + L".dll";
    ASSERT_TRUE(CopyFileW((MarkerDllsDir() + L"\\" + dll).c_str(),
                          (downloads + L"\\" + dll).c_str(), FALSE))
        << Narrow(dll);
  }

  const std::wstring report = own + L"\\report.txt";
  RunOptions options;
  options.tempFolder = temp;
  options.env[L"QNVPD_STANDIN_REPORT"] = report;
  options.watchMessageBoxes = false;
  PreferNativePlantedNames preferPlanted;

  options.arguments = L"-s1";
  RunResult install = RunProgram(package, options);
  EXPECT_EQ(0u, install.exitCode) << std::hex << install.exitCode;
  EXPECT_EQ(std::vector<std::wstring>{}, Marks(downloads)) << "loaded by the install run";
  EXPECT_EQ(1u, ReportValues(ReadReport(report), "setup").size()) << "the installer did not run";

  // The removal run loads the carried removal library, by its full path.
  for (const std::wstring& mark : Marks(downloads)) DeleteFileW((downloads + L"\\" + mark).c_str());
  options.arguments = L"-u3";
  RunResult removal = RunProgram(package, options);
  EXPECT_EQ(0u, removal.exitCode) << std::hex << removal.exitCode;
  EXPECT_EQ(std::vector<std::wstring>{}, Marks(downloads)) << "loaded by the removal run";
  EXPECT_EQ(1u, ReportValues(ReadReport(report), "library").size()) << "the removal kit did not run";
  EXPECT_EQ(1u, ReportValues(ReadReport(report), "kpesetup").size()) << "the removal kit did not run";
}

}  // namespace
}  // namespace qnvpd_test
