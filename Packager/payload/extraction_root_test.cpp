#include "payload/extraction_root.h"

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace qnvpd {
namespace {

using qnvpd_test::Exists;
using qnvpd_test::FolderExists;
using qnvpd_test::ScopedEnvironment;
using qnvpd_test::ScratchFolder;
using qnvpd_test::WriteFileBytes;

constexpr const wchar_t kGuid[] = L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}";

TEST(ExtractionBase, TheTemporaryFolderUnlessItIsExactlyTheWindowsFolder) {
  EXPECT_EQ(ComposeExtractionBase(L"C:\\windows", L"C:\\windows"), L"");
  // Only an exact match counts: a trailing backslash or letter case differs.
  EXPECT_EQ(ComposeExtractionBase(L"C:\\windows\\", L"C:\\windows"), L"C:\\windows\\");
  EXPECT_EQ(ComposeExtractionBase(L"C:\\WINDOWS", L"C:\\windows"), L"C:\\WINDOWS");
  EXPECT_EQ(ComposeExtractionBase(L"C:\\Temp\\", L"C:\\windows"), L"C:\\Temp\\");
  // A failed temporary-folder query leaves an empty text, used as it is.
  EXPECT_EQ(ComposeExtractionBase(L"", L"C:\\windows"), L"");
}

TEST(ExtractionBase, RootIsBaseGuidAndOneBackslash) {
  EXPECT_EQ(ComposeExtractionRoot(L"C:\\Temp\\", kGuid),
            L"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\");
  // An empty base makes a folder in the current directory.
  EXPECT_EQ(ComposeExtractionRoot(L"", kGuid), L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\");
}

TEST(ExtractionBase, FollowsTheTemporaryFolderAndRefusesOneTooLong) {
  ScratchFolder scratch;
  {
    ScopedEnvironment tmp(L"TMP", scratch / L"work");
    EXPECT_EQ(GetExtractionBase(), scratch / L"work\\");
  }
  {
    // 259 characters and more do not fit the 260-character buffer.
    ScopedEnvironment tmp(L"TMP", L"C:\\" + std::wstring(270, L'x'));
    EXPECT_EQ(GetExtractionBase(), L"");
  }
}

// PrepareExtractionRoot with the temporary folder pointed at a scratch folder.
class PrepareRoot : public ::testing::Test {
 protected:
  PrepareRoot() : tmp_(L"TMP", scratch_.Path()), expected_(scratch_ / kGuid + L"\\") {}
  ScratchFolder scratch_;
  ScopedEnvironment tmp_;
  std::wstring expected_;
};

TEST_F(PrepareRoot, CreatesTheSameRootOnEveryRun) {
  EXPECT_EQ(PrepareExtractionRoot(1033), expected_);
  EXPECT_TRUE(FolderExists(expected_));
  EXPECT_EQ(PrepareExtractionRoot(1033), expected_);
  EXPECT_TRUE(FolderExists(expected_));
}

// Something at the root's place that cannot be cleared away (here a file of
// that name): no root of this run's own, so nothing may be written anywhere.
TEST_F(PrepareRoot, RefusesAPlaceItCouldNotCreateItself) {
  const std::wstring blocker = expected_.substr(0, expected_.size() - 1);
  HANDLE file = CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(L"", PrepareExtractionRoot(1033));
  SetFileAttributesW(blocker.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(blocker.c_str());
  EXPECT_EQ(expected_, PrepareExtractionRoot(1033));
}

TEST_F(PrepareRoot, ClearsWhatAnEarlierRunOrSomeoneElseLeft) {
  CreateDirectoryW(expected_.c_str(), nullptr);
  CreateDirectoryW((expected_ + L"qnusb").c_str(), nullptr);
  WriteFileBytes(expected_ + L"setup.exe", "planted");
  WriteFileBytes(expected_ + L"qnusb\\stale.dll", "stale");
  WriteFileBytes(expected_ + L"locked.txt", "read-only");
  SetFileAttributesW((expected_ + L"locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(PrepareExtractionRoot(1033), expected_);
  EXPECT_TRUE(FolderExists(expected_));
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((expected_ + L"*").c_str(), &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::vector<std::wstring> names;
  do {
    if (wcscmp(entry.cFileName, L".") && wcscmp(entry.cFileName, L"..")) {
      names.push_back(entry.cFileName);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  EXPECT_TRUE(names.empty()) << "first leftover: " << qnvpd_test::Narrow(names.front());
}

// The DACL of a descriptor: whether it is protected, and its entries.
struct DaclSummary {
  explicit DaclSummary(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) return;
    isProtected = (control & SE_DACL_PROTECTED) != 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
        dacl == nullptr) {
      return;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) continue;
      aces.push_back(*static_cast<ACE_HEADER*>(ace));
      if (aces.back().AceType == ACCESS_ALLOWED_ACE_TYPE) {
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        masks.push_back(allowed->Mask);
        auto* sid = reinterpret_cast<BYTE*>(&allowed->SidStart);
        sids.push_back(std::vector<BYTE>(sid, sid + GetLengthSid(sid)));
      }
    }
  }
  bool Grants(const std::vector<BYTE>& sid) const {
    for (const auto& entry : sids) {
      if (EqualSid(const_cast<BYTE*>(entry.data()), const_cast<BYTE*>(sid.data()))) return true;
    }
    return false;
  }
  bool isProtected = false;
  std::vector<ACE_HEADER> aces;
  std::vector<ACCESS_MASK> masks;
  std::vector<std::vector<BYTE>> sids;
};

// The descriptor stored for a path, as the platform reports it.
class StoredDescriptor {
 public:
  explicit StoredDescriptor(const std::wstring& path) {
    error_ = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, nullptr, nullptr, &descriptor_);
  }
  ~StoredDescriptor() { LocalFree(descriptor_); }
  StoredDescriptor(const StoredDescriptor&) = delete;
  StoredDescriptor& operator=(const StoredDescriptor&) = delete;
  DWORD Error() const { return error_; }
  DaclSummary Summary() const { return DaclSummary(descriptor_); }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  CreateWellKnownSid(type, nullptr, sid.data(), &size);
  sid.resize(size);
  return sid;
}

std::vector<BYTE> TokenOwnerSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::vector<BYTE> info(sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE);
  DWORD needed = 0;
  const BOOL read =
      GetTokenInformation(token, TokenOwner, info.data(), static_cast<DWORD>(info.size()), &needed);
  CloseHandle(token);
  if (!read) return {};
  auto* owner = static_cast<BYTE*>(reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner);
  return std::vector<BYTE>(owner, owner + GetLengthSid(owner));
}

// Protected, inheritable full access for exactly Administrators, SYSTEM and
// the token's owner.
void ExpectPrivate(const DaclSummary& dacl) {
  const std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
  const std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);
  const std::vector<BYTE> owner = TokenOwnerSid();
  ASSERT_FALSE(owner.empty());
  const bool ownerIsExtra = !EqualSid(const_cast<BYTE*>(owner.data()),
                                      const_cast<BYTE*>(administrators.data())) &&
                            !EqualSid(const_cast<BYTE*>(owner.data()),
                                      const_cast<BYTE*>(system.data()));
  EXPECT_TRUE(dacl.isProtected);
  ASSERT_EQ(dacl.aces.size(), ownerIsExtra ? 3u : 2u);
  ASSERT_EQ(dacl.sids.size(), dacl.aces.size()) << "only allowed entries expected";
  EXPECT_TRUE(dacl.Grants(administrators));
  EXPECT_TRUE(dacl.Grants(system));
  EXPECT_TRUE(dacl.Grants(owner));
  for (size_t i = 0; i < dacl.aces.size(); ++i) {
    EXPECT_EQ(dacl.aces[i].AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(dacl.masks[i], static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
  }
}

TEST(PrivateFolderSecurityTest, DescriptorGrantsOnlyTheThreeAndIsProtected) {
  PrivateFolderSecurity security;
  ASSERT_NE(security.Attributes(), nullptr);
  EXPECT_EQ(security.Attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(security.Attributes()->bInheritHandle);
  ASSERT_TRUE(IsValidSecurityDescriptor(security.Attributes()->lpSecurityDescriptor));
  ExpectPrivate(DaclSummary(security.Attributes()->lpSecurityDescriptor));
}

// Whether the file system under test keeps the descriptor a folder is created
// with (Wine builds without extended-attribute support make one up from the
// Unix mode instead).
bool FileSystemKeepsDescriptors(const std::wstring& scratch) {
  const std::wstring probe = scratch + L"\\descriptor-probe";
  alignas(DWORD) BYTE acl[256] = {};
  std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);
  SECURITY_DESCRIPTOR descriptor;
  InitializeAcl(reinterpret_cast<PACL>(acl), sizeof acl, ACL_REVISION);
  AddAccessAllowedAce(reinterpret_cast<PACL>(acl), ACL_REVISION, FILE_ALL_ACCESS, system.data());
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl), FALSE);
  SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  if (!CreateDirectoryW(probe.c_str(), &attributes)) return false;
  bool kept = false;
  {
    StoredDescriptor stored(probe);
    const DaclSummary dacl = stored.Summary();
    kept = stored.Error() == ERROR_SUCCESS && dacl.isProtected && dacl.sids.size() == 1;
  }
  RemoveDirectoryW(probe.c_str());
  return kept;
}

TEST_F(PrepareRoot, RootAndWhatIsWrittenInItCarryThePrivateDescriptor) {
  const std::wstring root = PrepareExtractionRoot(1033);
  WriteFileBytes(root + L"payload.bin", "x");
  StoredDescriptor stored(root);
  ASSERT_EQ(stored.Error(), static_cast<DWORD>(ERROR_SUCCESS));
  StoredDescriptor child(root + L"payload.bin");
  ASSERT_EQ(child.Error(), static_cast<DWORD>(ERROR_SUCCESS));

  // Holds even where the platform derives a folder's descriptor from its Unix
  // mode: one made with default security there lets Everyone read it.
  for (WELL_KNOWN_SID_TYPE outsider : {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid}) {
    EXPECT_FALSE(stored.Summary().Grants(WellKnownSid(outsider))) << outsider;
  }

  if (!FileSystemKeepsDescriptors(scratch_.Path())) {
    GTEST_SKIP() << "this file system does not keep security descriptors; "
                    "only the absence of outsiders was checked";
  }
  ExpectPrivate(stored.Summary());
  // What the run writes below inherits the same entries.
  const DaclSummary inherited = child.Summary();
  EXPECT_EQ(inherited.sids.size(), stored.Summary().sids.size());
  for (const ACE_HEADER& ace : inherited.aces) EXPECT_TRUE(ace.AceFlags & INHERITED_ACE);
}

// The same check against a folder made with default security, so that the
// outsider test above is known to tell the two apart on this platform.
TEST_F(PrepareRoot, DefaultSecurityWouldLetOutsidersIn) {
  const std::wstring plain = scratch_ / L"plain";
  ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
  StoredDescriptor stored(plain);
  ASSERT_EQ(stored.Error(), static_cast<DWORD>(ERROR_SUCCESS));
  const DaclSummary dacl = stored.Summary();
  if (dacl.isProtected) GTEST_SKIP() << "the temporary folder is itself private here";
  EXPECT_TRUE(dacl.Grants(WellKnownSid(WinWorldSid)) ||
              dacl.Grants(WellKnownSid(WinBuiltinUsersSid)) ||
              dacl.Grants(WellKnownSid(WinAuthenticatedUserSid)));
}

}  // namespace
}  // namespace qnvpd
