#include "payload/set_aside.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "payload/working_folder.h"
#include "scoped.h"
#include "scratch_temp.h"
#include "test_support.h"

namespace qnvpd {
namespace {

constexpr LANGID kEnglish = 1033;

// Where a test does not read what a step reports.
StepReport* Unlogged() {
  static StepReport discarded;
  return &discarded;
}

using qnvpd_test::EntryNames;
using qnvpd_test::Exists;
using qnvpd_test::FolderExists;
using qnvpd_test::Narrow;
using qnvpd_test::WriteFileBytes;

TEST(SetAsideDecision, OnlyAFolderNobodyButAdministratorsCouldWriteIsDeleted) {
  struct {
    FolderOccupant::Kind kind;
    bool isPrivate;
    OccupantAction action;
  } cases[] = {
      {FolderOccupant::Nothing, false, OccupantAction::Create},
      {FolderOccupant::Folder, true, OccupantAction::RemoveOurs},
      {FolderOccupant::Folder, false, OccupantAction::SetAside},
      // A link is never entered, whatever its target's descriptor says.
      {FolderOccupant::Link, true, OccupantAction::SetAside},
      {FolderOccupant::Link, false, OccupantAction::SetAside},
      {FolderOccupant::File, false, OccupantAction::SetAside},
      {FolderOccupant::Unknown, false, OccupantAction::SetAside},
  };
  for (const auto& c : cases) {
    FolderOccupant occupant;
    occupant.kind = c.kind;
    occupant.isPrivate = c.isPrivate;
    EXPECT_EQ(DecideOccupant(occupant), c.action) << c.kind << "/" << c.isPrivate;
  }
}

// A sibling name nobody can work out beforehand, unlike a process id and a
// tick count: 64 random bits, never the same twice.
TEST(SetAsideDecision, SiblingNamesAreRandom) {
  const std::wstring first = RandomSiblingName(L"{G}");
  const std::wstring second = RandomSiblingName(L"{G}");
  EXPECT_NE(first, second);
  for (const std::wstring& name : {first, second}) {
    ASSERT_EQ(name.size(), 3u + 1 + 16) << Narrow(name);
    EXPECT_EQ(name.compare(0, 4, L"{G}."), 0) << Narrow(name);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 4), std::wstring::npos) << Narrow(name);
  }
}

// The working folder's creation over what an earlier run or someone else left.
class SetAsideStale : public qnvpd_test::ScratchTempTest {
 protected:
  // The sibling names something was set aside under.
  std::vector<std::wstring> SetAside() const {
    std::vector<std::wstring> aside;
    for (const std::wstring& name : EntryNames(scratch_.Path())) {
      if (name != qnvpd_test::kWorkingFolderGuid) aside.push_back(scratch_ / name);
    }
    return aside;
  }

  void PlantStaleFolder() {
    ASSERT_TRUE(CreateDirectoryW(name_.c_str(), nullptr));
    CreateDirectoryW((expected_ + L".hidden").c_str(), nullptr);
    WriteFileBytes(expected_ + L".keep", "");
    WriteFileBytes(expected_ + L"setup.exe", "planted");
    WriteFileBytes(expected_ + L".hidden\\version.dll", "planted");
    SetFileAttributesW((expected_ + L"setup.exe").c_str(), FILE_ATTRIBUTE_READONLY);
  }
};

// Where no descriptor is stored every stale folder counts as someone else's:
// it is set aside untouched, dot-named entries included, and the new working
// folder is empty.
TEST_F(SetAsideStale, SetsAsideWhatAnEarlierRunOrSomeoneElseLeft) {
  PlantStaleFolder();
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish, Unlogged()));
  EXPECT_TRUE(EntryNames(expected_).empty());
  const std::vector<std::wstring> aside = SetAside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(EntryNames(aside[0]),
            (std::vector<std::wstring>{L".hidden", L".keep", L"setup.exe"}));
  EXPECT_TRUE(Exists(aside[0] + L"\\.hidden\\version.dll"));

  // A file at the working folder's name goes aside the same way.
  working.Remove();
  WriteFileBytes(name_, "not a folder");
  ASSERT_TRUE(working.Create(kEnglish, Unlogged()));
  EXPECT_TRUE(FolderExists(expected_));
  EXPECT_EQ(SetAside().size(), 2u);
}

FolderOccupant ReportPrivateFolder(const std::wstring& name) {
  FolderOccupant found = InspectOccupant(name);
  if (found.kind == FolderOccupant::Folder) found.isPrivate = true;
  return found;
}
FolderOccupant ReportLink(const std::wstring& name) {
  FolderOccupant found = InspectOccupant(name);
  if (found.kind != FolderOccupant::Nothing) found.kind = FolderOccupant::Link;
  return found;
}

// The system's answers, with the working folder's name looked at through `inspect`.
WorkingFolderQuery Inspecting(OccupantInspection inspect) {
  WorkingFolderQuery query = SystemWorkingFolderQuery();
  query.inspect = inspect;
  return query;
}

// Where the descriptor shows that only administrators could have written the
// stale folder, it is deleted, after being renamed aside.
TEST_F(SetAsideStale, DeletesAStaleFolderOnlyAdministratorsCouldWrite) {
  PlantStaleFolder();
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish, Unlogged(), Inspecting(ReportPrivateFolder)));
  EXPECT_TRUE(EntryNames(expected_).empty());
  EXPECT_TRUE(SetAside().empty()) << Narrow(SetAside().front());
}

// What cannot be set aside never blocks the run, and is never touched: a link
// the system cannot rename as itself (here the seam calls a real folder a
// link; renaming it would move its target), and a folder someone holds open
// (on Windows also one a program runs from). The run works in a private
// sibling of its own instead, and removes that sibling at the end.
TEST_F(SetAsideStale, WorksBesideWhatItCannotSetAside) {
  for (bool holdIt : {false, true}) {
    PlantStaleFolder();
    ScopedFile holder;
    if (holdIt) {
      holder.Reset(CreateFileW(name_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      ASSERT_TRUE(holder.IsValid());
    }
    WorkingFolder working;
    ASSERT_TRUE(working.Create(kEnglish, Unlogged(), Inspecting(holdIt ? ReportPrivateFolder : ReportLink)));
    const std::wstring sibling = FolderName(working.Path());
    ASSERT_EQ(SetAside(), std::vector<std::wstring>{sibling}) << holdIt;
    EXPECT_EQ(0u, working.Path().find(name_ + L".")) << Narrow(working.Path());
    EXPECT_TRUE(EntryNames(working.Path()).empty());
    EXPECT_FALSE(MoveFileW(sibling.c_str(), (scratch_ / L"m").c_str()))
        << "held like the usual working folder";
    working.Remove();
    EXPECT_TRUE(SetAside().empty()) << holdIt;
    EXPECT_EQ(EntryNames(expected_).size(), 3u) << "the squatter is untouched";
    holder.Reset();
    qnvpd_test::DeleteTree(name_);
  }
}

// A folder that appears at the name between the look and the creation is
// never taken over: it may hold files someone planted for the installer.
FolderOccupant PlantBetweenLookAndCreate(const std::wstring& name) {
  static int looks = 0;
  if (looks++ > 0) return InspectOccupant(name);
  CreateDirectoryW(name.c_str(), nullptr);
  WriteFileBytes(name + L"\\setup.exe", "planted");
  return FolderOccupant();  // "nothing there"
}
TEST_F(SetAsideStale, NeverTakesOverAFolderThatAppearsMeanwhile) {
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish, Unlogged(), Inspecting(PlantBetweenLookAndCreate)));
  EXPECT_TRUE(EntryNames(working.Path()).empty());
  ASSERT_EQ(SetAside().size(), 1u) << "the planted folder, set aside";
  EXPECT_TRUE(Exists(SetAside()[0] + L"\\setup.exe"));
}

}  // namespace
}  // namespace qnvpd
