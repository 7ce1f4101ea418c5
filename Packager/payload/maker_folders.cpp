#include "payload/maker_folders.h"

#include <cwchar>

#include "bounded_text.h"
#include "payload/cleanup.h"
#include "scoped.h"

namespace qnvpd {

namespace {

constexpr wchar_t kMakerFolderSuffix[] = L"\\KAVRO";

// A registry folder value, terminated inside its buffer and expanded; empty
// when the key or value is missing or either text does not fit its buffer.
std::wstring ReadFolderValue(const wchar_t* keyPath, const wchar_t* valueName) {
  ScopedKey key;
  if (RegOpenKeyW(HKEY_LOCAL_MACHINE, keyPath, key.Receive()) != ERROR_SUCCESS) return {};

  wchar_t raw[kPathCapacity] = {};
  DWORD bytes = sizeof raw;
  if (RegQueryValueExW(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(raw),
                       &bytes) != ERROR_SUCCESS) {
    return {};
  }
  // Stored strings need not carry their terminator; one that fills the whole
  // buffer without one does not fit.
  const size_t units = bytes / sizeof(wchar_t);
  if (wmemchr(raw, L'\0', units) == nullptr) {
    if (units >= kPathCapacity) return {};
    raw[units] = L'\0';
  }

  wchar_t expanded[kPathCapacity] = {};
  const DWORD needed = ExpandEnvironmentStringsW(raw, expanded, static_cast<DWORD>(kPathCapacity));
  if (needed == 0 || needed > kPathCapacity) return {};
  return expanded;
}

void RemoveMakerFolderIfEmpty(const std::wstring& parentFolder, const RunLog& log) {
  const std::wstring folder = MakerFolderPath(parentFolder);
  if (folder.empty()) {
    log.Write(L"maker's folder: its parent folder could not be looked up; nothing tidied");
    return;
  }
  const FolderRemoval removal = RemoveFolderIfEmpty(folder);
  switch (removal.outcome) {
    case FolderRemoval::kRemoved:
      log.Write(L"maker's folder removed (it was empty): " + folder);
      break;
    case FolderRemoval::kNotThere:
      log.Write(L"maker's folder not there: " + folder);
      break;
    case FolderRemoval::kNotEmpty:
      log.Write(L"maker's folder kept (not empty): " + folder);
      break;
    case FolderRemoval::kNotItself:
      log.Write(L"maker's folder kept (a link or a file, or reached through a link): " + folder);
      break;
    case FolderRemoval::kFailed:
      log.Write(L"maker's folder kept (" + DescribeError(removal.error) + L"): " + folder);
      break;
  }
}

}  // namespace

std::wstring ReadProgramFilesFolder() {
  return ReadFolderValue(L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesPath");
}

std::wstring ReadCommonProgramsFolder() {
  return ReadFolderValue(
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
      L"Common Programs");
}

std::wstring MakerFolderPath(const std::wstring& parentFolder) {
  if (parentFolder.empty()) return std::wstring();
  return parentFolder + kMakerFolderSuffix;
}

void TidyMakerFolders(const RunLog& log) {
  RemoveMakerFolderIfEmpty(ReadProgramFilesFolder(), log);
  RemoveMakerFolderIfEmpty(ReadCommonProgramsFolder(), log);
}

}  // namespace qnvpd
