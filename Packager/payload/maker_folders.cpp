#include "payload/maker_folders.h"

#include <cwchar>

#include "bounded_text.h"
#include "payload/cleanup.h"
#include "scoped.h"
#include "system_variables.h"

namespace qnvpd {

namespace {

constexpr wchar_t kMakerFolderSuffix[] = L"\\KAVRO";
constexpr wchar_t kVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// A registry folder value expanded with the system's variables; empty when it
// is missing, refers to a variable the system does not set, or either text
// does not fit its buffer. The value's type is not looked at.
std::wstring ReadFolderValue(const wchar_t* keyPath, const wchar_t* valueName) {
  std::wstring expanded;
  if (!ExpandSystemVariables(ReadMachineText(keyPath, valueName), &expanded) ||
      expanded.size() >= kPathCapacity) {
    return {};
  }
  return expanded;
}

void RemoveMakerFolderIfEmpty(const std::wstring& parentFolder, const wchar_t* valueName,
                              const RunLog& log) {
  const std::wstring folder = MakerFolderPath(parentFolder);
  if (folder.empty()) {
    log.Write(std::wstring(L"maker's folder: \"") + valueName +
              L"\" could not be read or expanded with the system's own variables; nothing "
              L"tidied there");
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
      log.Write(L"maker's folder kept (a link or a file, or not confirmed as the folder at "
                L"that path): " + folder);
      break;
    case FolderRemoval::kFailed:
      log.Write(L"maker's folder kept (" + DescribeError(removal.error) + L"): " + folder);
      break;
  }
}

}  // namespace

std::wstring ReadProgramFilesFolder() {
  return ReadFolderValue(kVersionKey, L"ProgramFilesPath");
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
  RemoveMakerFolderIfEmpty(ReadProgramFilesFolder(), L"ProgramFilesPath", log);
  RemoveMakerFolderIfEmpty(ReadCommonProgramsFolder(), L"Common Programs", log);
}

}  // namespace qnvpd
