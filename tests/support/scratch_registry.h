// Test fixture for the readers of HKEY_LOCAL_MACHINE: it is redirected to a
// scratch key under HKEY_CURRENT_USER for the test's duration, so fixtures of any
// shape can be written and the machine's real keys stay out of sight. Also gives
// each test a temporary folder and a way to capture what a section writer writes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace qnvpd_test {

constexpr wchar_t kScratchRoot[] = L"Software\\QnvpdCarryoverTest";
constexpr char kUsbInterfaceKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1f2e&Pid_0b0c";
constexpr char kPortKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\PORTS";

// One registry value with its exact bytes, so odd lengths and types can be stored.
struct Value {
  std::string name;
  DWORD type;
  std::string bytes;
};

inline Value Dword(const std::string& name, uint32_t number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return {name, REG_DWORD, bytes};
}
// A string stored with its terminator.
inline Value Sz(const std::string& name, const std::string& text) {
  return {name, REG_SZ, text + std::string(1, '\0')};
}
// Strings separated by their terminators and closed by an empty one.
inline Value MultiSz(const std::string& name, const std::vector<std::string>& strings) {
  std::string bytes;
  for (const std::string& s : strings) bytes += s + std::string(1, '\0');
  return {name, REG_MULTI_SZ, bytes + std::string(1, '\0')};
}
inline Value Raw(const std::string& name, DWORD type, const std::string& bytes) {
  return {name, type, bytes};
}

class ScratchRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchRoot);  // left over from a crashed run
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, kScratchRoot, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &root_, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, root_));
    folder_ = scratch_.Path() + L"\\";
  }

  void TearDown() override {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (root_ != nullptr) RegCloseKey(root_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchRoot);
  }

  // Creates HKLM\path (in the scratch key) and stores the values in it.
  void Put(const std::string& path, const std::vector<Value>& values = {}) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root_, path.c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr))
        << path;
    for (const Value& v : values) {
      EXPECT_EQ(ERROR_SUCCESS,
                RegSetValueExA(key, v.name.c_str(), 0, v.type,
                               reinterpret_cast<const BYTE*>(v.bytes.data()),
                               static_cast<DWORD>(v.bytes.size())))
          << path << " " << v.name;
    }
    RegCloseKey(key);
  }

  // Stores a wide string value of exactly the given characters (no terminator
  // unless it is part of text).
  void PutWide(const std::string& path, const wchar_t* name, DWORD type, const std::wstring& text) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root_, path.c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.data()),
                             static_cast<DWORD>(text.size() * sizeof(wchar_t))));
    RegCloseKey(key);
  }

  // Removes HKLM\path and everything below it (in the scratch key).
  void Remove(const std::string& path) { RegDeleteTreeA(root_, path.c_str()); }

  // What a section writer puts on disk through a text-mode stream.
  std::string Capture(int (*writer)(std::FILE*)) {
    std::wstring path = folder_ + L"section.txt";
    std::FILE* out = _wfopen(path.c_str(), L"wt");
    if (out == nullptr) {
      ADD_FAILURE() << "cannot create the capture file";
      return std::string();
    }
    writer(out);
    std::fclose(out);
    return ReadFileBytes(path);
  }

  const std::wstring& folder() const { return folder_; }

 private:
  HKEY root_ = nullptr;
  ScratchFolder scratch_;
  std::wstring folder_;
};

}  // namespace qnvpd_test
