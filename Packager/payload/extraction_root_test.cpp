#include "payload/extraction_root.h"
#include "private_security.h"

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "test_support.h"

namespace qnvpd {
namespace {

constexpr LANGID kEnglish = 1033;

using qnvpd_test::EntryNames;
using qnvpd_test::Exists;
using qnvpd_test::FolderExists;
using qnvpd_test::Narrow;
using qnvpd_test::ScopedEnvironment;
using qnvpd_test::ScratchFolder;
using qnvpd_test::WriteFileBytes;

constexpr const wchar_t kGuid[] = L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}";

TEST(ExtractionBase, TheTemporaryFolderOrTheCurrentOneAndAlwaysAbsolute) {
  // Only an exact match with the Windows folder counts: a trailing backslash or
  // letter case differs.
  EXPECT_EQ(ComposeExtractionBase(L"C:\\windows\\", L"C:\\windows", L"D:\\cwd"), L"C:\\windows\\");
  EXPECT_EQ(ComposeExtractionBase(L"C:\\WINDOWS", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeExtractionBase(L"C:\\Temp\\", L"C:\\windows", L"D:\\cwd"), L"C:\\Temp\\");
  EXPECT_EQ(ComposeExtractionBase(L"\\\\srv\\share\\t\\", L"C:\\windows", L""),
            L"\\\\srv\\share\\t\\");
  // The Windows folder itself: the current folder, made a folder text.
  EXPECT_EQ(ComposeExtractionBase(L"C:\\windows", L"C:\\windows", L"D:\\cwd"), L"D:\\cwd\\");
  EXPECT_EQ(ComposeExtractionBase(L"C:\\windows", L"C:\\windows", L"D:\\"), L"D:\\");
  // Nothing relative or empty is ever a base.
  EXPECT_EQ(ComposeExtractionBase(L"C:\\windows", L"C:\\windows", L""), L"");
  EXPECT_EQ(ComposeExtractionBase(L"", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeExtractionBase(L"temp\\", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeExtractionBase(L"C:temp\\", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeExtractionBase(L"\\temp\\", L"C:\\windows", L"D:\\cwd"), L"");
}

TEST(ExtractionBase, RootIsAbsoluteBaseGuidAndOneBackslashOrNothing) {
  EXPECT_EQ(ComposeExtractionRoot(L"C:\\Temp\\", kGuid),
            L"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\");
  EXPECT_EQ(ComposeExtractionRoot(L"", kGuid), L"") << "never relative to the current folder";
  EXPECT_EQ(ComposeExtractionRoot(L"C:\\Temp", kGuid), L"");
  // An empty or odd product code would make the root the temporary folder or
  // somewhere else entirely.
  for (const wchar_t* code : {L"", L".", L"..", L"..\\x", L"a/b", L"C:x"}) {
    EXPECT_EQ(ComposeExtractionRoot(L"C:\\Temp\\", code), L"") << Narrow(code);
  }
}

TEST(ExtractionBase, FollowsTheTemporaryFolderAndRefusesOneThatDoesNotFit) {
  ScratchFolder scratch;
  {
    ScopedEnvironment tmp(L"TMP", scratch / L"work");
    EXPECT_EQ(GetExtractionBase(), scratch / L"work\\");
  }
  for (size_t length : {260u, 300u}) {
    ScopedEnvironment tmp(L"TMP", L"C:\\" + std::wstring(length - 3, L'x'));
    EXPECT_EQ(GetExtractionBase(), L"") << length;
  }
}

TEST(StaleRoot, OnlyAFolderNobodyButAdministratorsCouldWriteIsDeleted) {
  struct {
    RootPlace::Kind kind;
    bool isPrivate;
    StaleRootAction action;
  } cases[] = {
      {RootPlace::Nothing, false, StaleRootAction::Create},
      {RootPlace::Folder, true, StaleRootAction::RemoveOurs},
      {RootPlace::Folder, false, StaleRootAction::SetAside},
      // A link is never entered, whatever its target's descriptor says.
      {RootPlace::Link, true, StaleRootAction::SetAside},
      {RootPlace::Link, false, StaleRootAction::SetAside},
      {RootPlace::File, false, StaleRootAction::SetAside},
      {RootPlace::Unknown, false, StaleRootAction::SetAside},
  };
  for (const auto& c : cases) {
    RootPlace place;
    place.kind = c.kind;
    place.isPrivate = c.isPrivate;
    EXPECT_EQ(DecideStaleRoot(place), c.action) << c.kind << "/" << c.isPrivate;
  }
}

// PreparedRoot with the temporary folder pointed at a scratch folder.
class PrepareRoot : public ::testing::Test {
 protected:
  PrepareRoot()
      : tmp_(L"TMP", scratch_.Path()),
        place_(scratch_ / kGuid),
        expected_(place_ + L"\\") {}

  // The sibling names something was set aside under.
  std::vector<std::wstring> SetAside() const {
    std::vector<std::wstring> aside;
    for (const std::wstring& name : EntryNames(scratch_.Path())) {
      if (name != kGuid) aside.push_back(scratch_ / name);
    }
    return aside;
  }

  void PlantStaleRoot() {
    ASSERT_TRUE(CreateDirectoryW(place_.c_str(), nullptr));
    CreateDirectoryW((expected_ + L".hidden").c_str(), nullptr);
    WriteFileBytes(expected_ + L".keep", "");
    WriteFileBytes(expected_ + L"setup.exe", "planted");
    WriteFileBytes(expected_ + L".hidden\\version.dll", "planted");
    SetFileAttributesW((expected_ + L"setup.exe").c_str(), FILE_ATTRIBUTE_READONLY);
  }

  static std::wstring WithoutBackslash(const std::wstring& folder) {
    return folder.substr(0, folder.size() - 1);
  }

  ScratchFolder scratch_;
  ScopedEnvironment tmp_;
  std::wstring place_;
  std::wstring expected_;
};

TEST_F(PrepareRoot, CreatesHoldsAndRemovesTheSameRootOnEveryRun) {
  for (int run = 0; run < 2; ++run) {
    PreparedRoot root;
    ASSERT_TRUE(root.Prepare(kEnglish));
    EXPECT_EQ(root.Path(), expected_);
    EXPECT_TRUE(FolderExists(expected_));
    // Held: nobody can rename the root or put something else in its place.
    EXPECT_FALSE(MoveFileW(place_.c_str(), (scratch_ / L"moved").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CreateDirectoryW((expected_ + L"sub").c_str(), nullptr);
    WriteFileBytes(expected_ + L"sub\\.dotted", "x");
    root.Remove();
    EXPECT_FALSE(Exists(place_));
    EXPECT_EQ(root.Path(), L"");
  }
  EXPECT_TRUE(SetAside().empty());
}

// Where no descriptor is stored every stale root counts as someone else's: it
// is set aside untouched, dot-named entries included, and the new root is empty.
TEST_F(PrepareRoot, SetsAsideWhatAnEarlierRunOrSomeoneElseLeft) {
  PlantStaleRoot();
  PreparedRoot root;
  ASSERT_TRUE(root.Prepare(kEnglish));
  EXPECT_TRUE(EntryNames(expected_).empty());
  const std::vector<std::wstring> aside = SetAside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(EntryNames(aside[0]),
            (std::vector<std::wstring>{L".hidden", L".keep", L"setup.exe"}));
  EXPECT_TRUE(Exists(aside[0] + L"\\.hidden\\version.dll"));

  // A file at the root's place goes aside the same way.
  root.Remove();
  WriteFileBytes(place_, "not a folder");
  ASSERT_TRUE(root.Prepare(kEnglish));
  EXPECT_TRUE(FolderExists(expected_));
  EXPECT_EQ(SetAside().size(), 2u);
}

RootPlace ReportPrivateFolder(const std::wstring& place) {
  RootPlace found = SystemRootPlaceQuery().inspect(place);
  if (found.kind == RootPlace::Folder) found.isPrivate = true;
  return found;
}
RootPlace ReportLink(const std::wstring& place) {
  RootPlace found = SystemRootPlaceQuery().inspect(place);
  if (found.kind != RootPlace::Nothing) found.kind = RootPlace::Link;
  return found;
}

// The system's answers, with the place looked at through `inspect`.
RootPlaceQuery Inspecting(RootPlace (*inspect)(const std::wstring&)) {
  RootPlaceQuery query = SystemRootPlaceQuery();
  query.inspect = inspect;
  return query;
}

// Where the descriptor shows that only administrators could have written the
// stale root, it is deleted, after being renamed aside.
TEST_F(PrepareRoot, DeletesAStaleRootOnlyAdministratorsCouldWrite) {
  PlantStaleRoot();
  PreparedRoot root;
  ASSERT_TRUE(root.Prepare(kEnglish, Inspecting(ReportPrivateFolder)));
  EXPECT_TRUE(EntryNames(expected_).empty());
  EXPECT_TRUE(SetAside().empty()) << Narrow(SetAside().front());
}

// What cannot be set aside never blocks the run, and is never touched: a link
// the system cannot rename as itself (here the seam calls a real folder a
// link; renaming it would move its target), and a folder someone holds open
// (on Windows also one a program runs from). The run works in a private
// sibling of its own instead, and removes that sibling at the end.
TEST_F(PrepareRoot, WorksBesideWhatItCannotSetAside) {
  for (bool holdIt : {false, true}) {
    PlantStaleRoot();
    ScopedFile holder;
    if (holdIt) {
      holder.Reset(CreateFileW(place_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      ASSERT_TRUE(holder.IsValid());
    }
    PreparedRoot root;
    ASSERT_TRUE(root.Prepare(kEnglish, Inspecting(holdIt ? ReportPrivateFolder : ReportLink)));
    ASSERT_EQ(SetAside(), std::vector<std::wstring>{WithoutBackslash(root.Path())}) << holdIt;
    EXPECT_EQ(0u, root.Path().find(place_ + L".")) << Narrow(root.Path());
    EXPECT_TRUE(EntryNames(root.Path()).empty());
    EXPECT_FALSE(MoveFileW(WithoutBackslash(root.Path()).c_str(), (scratch_ / L"m").c_str()))
        << "held like the usual root";
    root.Remove();
    EXPECT_TRUE(SetAside().empty()) << holdIt;
    EXPECT_EQ(EntryNames(expected_).size(), 3u) << "the squatter is untouched";
    holder.Reset();
    qnvpd_test::DeleteTree(place_);
  }
}

// A folder that appears at the place between the look and the creation is
// never taken over: it may hold files someone planted for the installer.
RootPlace PlantBetweenLookAndCreate(const std::wstring& place) {
  static int looks = 0;
  if (looks++ > 0) return SystemRootPlaceQuery().inspect(place);
  CreateDirectoryW(place.c_str(), nullptr);
  WriteFileBytes(place + L"\\setup.exe", "planted");
  return RootPlace();  // "nothing there"
}
TEST_F(PrepareRoot, NeverTakesOverAFolderThatAppearsMeanwhile) {
  PreparedRoot root;
  ASSERT_TRUE(root.Prepare(kEnglish, Inspecting(PlantBetweenLookAndCreate)));
  EXPECT_TRUE(EntryNames(root.Path()).empty());
  ASSERT_EQ(SetAside().size(), 1u) << "the planted folder, set aside";
  EXPECT_TRUE(Exists(SetAside()[0] + L"\\setup.exe"));
}

// A temporary-folder query that fails or reports a length that does not fit
// leaves no base, whatever its buffer holds (Wine itself only ever fails).
DWORD TempPathTooLong(DWORD capacity, wchar_t* buffer) {
  GetTempPathW(capacity, buffer);
  return capacity + 40;
}
DWORD TempPathFilledButFailed(DWORD capacity, wchar_t* buffer) {
  GetTempPathW(capacity, buffer);
  return 0;
}
// Volumes where a private descriptor would not keep others out, or that do
// not say: nothing of the run may land there.
FolderVolume VolumeWithoutAccessLists(HANDLE) { return {true, true, false}; }
FolderVolume RemoteVolume(HANDLE) { return {true, false, true}; }
FolderVolume SilentVolume(HANDLE) { return {}; }

TEST_F(PrepareRoot, RefusesATemporaryFolderItCannotTrustBeforeWritingAnything) {
  std::vector<RootPlaceQuery> queries;
  for (auto tempPath : {TempPathTooLong, TempPathFilledButFailed}) {
    queries.push_back(SystemRootPlaceQuery());
    queries.back().tempPath = tempPath;
  }
  for (auto volume : {VolumeWithoutAccessLists, RemoteVolume, SilentVolume}) {
    queries.push_back(SystemRootPlaceQuery());
    queries.back().volume = volume;
  }
  for (size_t i = 0; i < queries.size(); ++i) {
    PreparedRoot root;
    EXPECT_FALSE(root.Prepare(kEnglish, queries[i])) << i;
    EXPECT_EQ(root.Path(), L"") << i;
    EXPECT_TRUE(EntryNames(scratch_.Path()).empty()) << i;
  }
  EXPECT_TRUE(IsNetworkFolderText(L"\\\\server\\share\\tmp\\"));
  EXPECT_TRUE(IsNetworkFolderText(L"\\\\?\\UNC\\server\\share\\"));
  EXPECT_FALSE(IsNetworkFolderText(L"C:\\Temp\\"));
}

// The root goes through a handle on it, its path never looked up again: a
// folder put at that path meanwhile (here after the parent was renamed, which
// Wine allows while the root is held) is not the one removed. (Wine then
// deletes neither; Windows deletes the moved root.)
TEST_F(PrepareRoot, NeverRemovesWhatNowStandsAtTheRootsPath) {
  PreparedRoot root;
  ASSERT_TRUE(root.Prepare(kEnglish));
  const std::wstring moved = scratch_.Path() + L".moved";
  ASSERT_TRUE(MoveFileW(scratch_.Path().c_str(), moved.c_str()));
  ASSERT_TRUE(CreateDirectoryW(scratch_.Path().c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(place_.c_str(), nullptr));
  root.Remove();
  EXPECT_TRUE(FolderExists(place_)) << "the stand-in at the old path stays";
  qnvpd_test::DeleteTree(moved);
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

// Protected, inheritable full access for exactly Administrators and SYSTEM.
void ExpectPrivate(const DaclSummary& dacl) {
  EXPECT_TRUE(dacl.isProtected);
  ASSERT_EQ(dacl.aces.size(), 2u);
  ASSERT_EQ(dacl.sids.size(), dacl.aces.size()) << "only allowed entries expected";
  EXPECT_TRUE(dacl.Grants(WellKnownSid(WinBuiltinAdministratorsSid)));
  EXPECT_TRUE(dacl.Grants(WellKnownSid(WinLocalSystemSid)));
  for (size_t i = 0; i < dacl.aces.size(); ++i) {
    EXPECT_EQ(dacl.aces[i].AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(dacl.masks[i], static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
  }
}

bool OwnedBy(PSECURITY_DESCRIPTOR descriptor, WELL_KNOWN_SID_TYPE type) {
  PSID owner = nullptr;
  BOOL defaulted = TRUE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
    return false;
  }
  std::vector<BYTE> expected = WellKnownSid(type);
  return !defaulted && EqualSid(owner, expected.data());
}

TEST(PrivateFolderSecurityTest, OwnedByAdministratorsAndGrantsOnlyThemAndSystem) {
  PrivateFolderSecurity security;
  ASSERT_NE(security.Attributes(), nullptr);
  EXPECT_EQ(security.Attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(security.Attributes()->bInheritHandle);
  PSECURITY_DESCRIPTOR descriptor = security.Attributes()->lpSecurityDescriptor;
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
  EXPECT_TRUE(OwnedBy(descriptor, WinBuiltinAdministratorsSid));
  ExpectPrivate(DaclSummary(descriptor));
  EXPECT_TRUE(IsPrivateDescriptor(descriptor));
}

// A descriptor built for the test: owner, protection and allowed entries.
class TestDescriptor {
 public:
  TestDescriptor(WELL_KNOWN_SID_TYPE owner, bool isProtected,
                 std::initializer_list<WELL_KNOWN_SID_TYPE> allowed, bool withDacl = true)
      : owner_(WellKnownSid(owner)) {
    InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor_, owner_.data(), FALSE);
    InitializeAcl(reinterpret_cast<PACL>(acl_), sizeof acl_, ACL_REVISION);
    for (WELL_KNOWN_SID_TYPE type : allowed) {
      sids_.push_back(WellKnownSid(type));
      AddAccessAllowedAce(reinterpret_cast<PACL>(acl_), ACL_REVISION, FILE_ALL_ACCESS,
                          sids_.back().data());
    }
    SetSecurityDescriptorDacl(&descriptor_, TRUE,
                              withDacl ? reinterpret_cast<PACL>(acl_) : nullptr, FALSE);
    if (isProtected) SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  PSECURITY_DESCRIPTOR Get() { return &descriptor_; }

 private:
  std::vector<BYTE> owner_;
  std::vector<std::vector<BYTE>> sids_;
  alignas(DWORD) BYTE acl_[512] = {};
  SECURITY_DESCRIPTOR descriptor_;
};

TEST(PrivateFolderSecurityTest, OnlyAdministratorsOwnedProtectedAndClosedCountsAsPrivate) {
  const auto admins = WinBuiltinAdministratorsSid;
  const auto system = WinLocalSystemSid;
  EXPECT_TRUE(IsPrivateDescriptor(TestDescriptor(admins, true, {admins, system}).Get()));
  EXPECT_TRUE(IsPrivateDescriptor(TestDescriptor(system, true, {system}).Get()));
  // An owner who is not an administrator can rewrite the DACL.
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(WinBuiltinUsersSid, true, {admins}).Get()));
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(WinWorldSid, true, {admins}).Get()));
  // Unprotected, it inherits whatever the temporary folder grants.
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(admins, false, {admins, system}).Get()));
  EXPECT_FALSE(
      IsPrivateDescriptor(TestDescriptor(admins, true, {admins, WinBuiltinUsersSid}).Get()));
  EXPECT_FALSE(
      IsPrivateDescriptor(TestDescriptor(admins, true, {admins, WinCreatorOwnerSid}).Get()));
  // A null DACL grants everyone everything.
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(admins, true, {}, false).Get()));
  EXPECT_FALSE(IsPrivateDescriptor(nullptr));
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
  PreparedRoot prepared;
  ASSERT_TRUE(prepared.Prepare(kEnglish));
  const std::wstring root = prepared.Path();
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
