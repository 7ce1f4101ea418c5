// What every test program needs around the code under test: files and folders
// to read, write and remove, environment variables, scratch folders. Written
// straight against the system, independent of the package's own code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qnvpd_test {

// The variable's value; empty when it is unset or longer than 4095 characters.
std::wstring EnvironmentValue(const wchar_t* name);

bool Exists(const std::wstring& path);        // file or folder
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);  // empty when it cannot be read
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);  // UTF-8

// The root ("X:\\") of a full test drive named by an environment variable, such
// as QNVPD_DISKFULL_DRIVE=Q:; empty when the variable is unset or no drive is
// mounted there (tests then skip).
std::wstring FullDrive(const wchar_t* variable);

// Entries directly in a folder ("." and ".." not counted).
size_t CountEntries(const std::wstring& folder);
// Their names, sorted.
std::vector<std::wstring> EntryNames(const std::wstring& folder);

// Deletes a folder tree, read-only entries included; links are removed as
// themselves, never entered. Wine follows Linux links when deleting: never use
// it on a tree holding one.
void DeleteTree(const std::wstring& path);

// A fresh folder under the temporary folder, deleted again at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    path_ = std::wstring(temp) + L"qnvpd-test-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { DeleteTree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& Path() const { return path_; }
  // A path inside, with one backslash.
  std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

 private:
  std::wstring path_;
};

// Sets an environment variable of this process for one scope, then restores it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(name, old, 32768);
    had_ = length > 0 && length < 32768;
    if (had_) old_.assign(old, length);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const wchar_t* name_;
  bool had_ = false;
  std::wstring old_;
};

}  // namespace qnvpd_test
