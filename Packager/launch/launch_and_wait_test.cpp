#include "launch/launch_and_wait.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/child_command_line.h"
#include "test_support.h"

namespace qnvpd {
namespace {

using qnvpd_test::EnvironmentValue;
using qnvpd_test::ReadFileBytes;

// Stands in for the launcher's channel: counts the ends it is told of and
// notes which of the child's results were already queued for `window` then.
class RecordingLink final : public ChildLink {
 public:
  const std::wstring& Token() const override { return token_; }
  void ChildEnded() const override {
    ++ends;
    MSG msg;
    queuedAtEnd = PeekMessageW(&msg, window, WM_USER, WM_USER, PM_NOREMOVE) != FALSE;
  }
  HWND window = nullptr;
  mutable int ends = 0;
  mutable bool queuedAtEnd = false;

 private:
  std::wstring token_ = L"/W32:0:1024";
};

// Each test gets a scratch folder, a record file that the child programs write
// to (through the inherited environment), a hidden window the child can post
// to and a link to be told on.
class LaunchAndWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring helpers = EnvironmentValue(L"QNVPD_HELPERS");
    ASSERT_FALSE(helpers.empty()) << "QNVPD_HELPERS is not set";
    child_ = helpers + L"\\launch_child.exe";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(child_.c_str())) << "no launch_child.exe";

    scratch_ = scratchFolder_.Path();
    ASSERT_TRUE(qnvpd_test::FolderExists(scratch_));
    record_ = scratch_ + L"\\record.txt";
    SetEnvironmentVariableW(L"QNVPD_LAUNCH_RECORD", record_.c_str());

    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, window_);
    link_.window = window_;
  }

  void TearDown() override {
    SetEnvironmentVariableW(L"QNVPD_LAUNCH_RECORD", nullptr);
    if (window_ != nullptr) DestroyWindow(window_);
  }

  // The messages queued for the window, in order.
  std::vector<MSG> QueuedMessages() {
    std::vector<MSG> messages;
    MSG msg;
    while (PeekMessageW(&msg, window_, WM_USER, WM_USER, PM_REMOVE)) messages.push_back(msg);
    return messages;
  }

  // The lines the child programs recorded, without their line ends.
  std::vector<std::wstring> Record() {
    std::vector<std::wstring> lines;
    const std::wstring text = qnvpd_test::Widen(ReadFileBytes(record_));
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }

  std::vector<std::wstring> RecordValues(const std::wstring& key) {
    std::vector<std::wstring> values;
    for (const std::wstring& line : Record()) {
      if (line.compare(0, key.size() + 1, key + L"=") == 0)
        values.push_back(line.substr(key.size() + 1));
    }
    return values;
  }

  std::wstring CopyChildTo(const std::wstring& path) {
    EXPECT_TRUE(CopyFileW(child_.c_str(), path.c_str(), FALSE)) << GetLastError();
    return path;
  }

  std::wstring child_;
  qnvpd_test::ScratchFolder scratchFolder_;
  std::wstring scratch_;
  std::wstring record_;
  HWND window_ = nullptr;
  RecordingLink link_;
};

TEST_F(LaunchAndWaitTest, ReturnsTheExitCodeAndTellsTheEndAfterTheChildsOwnMessages) {
  const std::wstring handle = std::to_wstring(reinterpret_cast<INT_PTR>(window_));
  const std::wstring arguments = L"3000 post " + handle + L" 42";

  const ChildOutcome outcome = LaunchAndWait(child_, arguments, link_);
  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(3000u, outcome.exitCode);

  // Told once, with the child's result already queued, and left queued.
  EXPECT_EQ(1, link_.ends);
  EXPECT_TRUE(link_.queuedAtEnd);
  std::vector<MSG> queued = QueuedMessages();
  ASSERT_EQ(1u, queued.size());
  EXPECT_EQ(static_cast<UINT>(WM_USER), queued[0].message);
  EXPECT_EQ(42u, queued[0].wParam);

  // Started by its quoted path, from this process's folder, shown normally.
  EXPECT_EQ(std::vector<std::wstring>{child_ + L"|\"" + child_ + L"\" " + arguments},
            RecordValues(L"ran"));
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  EXPECT_EQ(std::vector<std::wstring>{cwd}, RecordValues(L"cwd"));
  EXPECT_EQ(std::vector<std::wstring>{L"5,1"}, RecordValues(L"startup"));
}

TEST_F(LaunchAndWaitTest, ExitCodesTwoAndStillActiveComeBackAsTheyAre) {
  // A child's own 2 is told apart from a failed start: it ran and was waited for.
  const ChildOutcome two = LaunchAndWait(child_, L"2", link_);
  EXPECT_TRUE(two.started);
  EXPECT_EQ(2u, two.exitCode);
  EXPECT_EQ(1, link_.ends);
  // 259 reads like "still running" every time; after the last read it stands.
  EXPECT_EQ(259u, LaunchAndWait(child_, L"259", link_).exitCode);
  EXPECT_EQ(2, link_.ends);
  EXPECT_EQ(2u, RecordValues(L"ran").size());
}

TEST_F(LaunchAndWaitTest, NothingThatCannotBeStartedRunsOrIsPosted) {
  // Missing file; a folder (passes the presence test, but cannot be started);
  // an existing program with text behind its ".exe " (the whole path is the
  // program's name, so nothing of that name exists).
  // Why comes back for the run to log: the system's error of the step.
  const ChildOutcome missing = LaunchAndWait(scratch_ + L"\\missing.exe", L"0", link_);
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.commandLineTooLong);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), missing.startError);
  const ChildOutcome aFolder = LaunchAndWait(scratch_, L"0", link_);
  EXPECT_FALSE(aFolder.started);
  EXPECT_NE(0u, aFolder.startError) << "refused by CreateProcessW";
  EXPECT_FALSE(LaunchAndWait(child_ + L" 0", L"0", link_).started);
  EXPECT_EQ(0, link_.ends);
  EXPECT_TRUE(Record().empty());

  // The whole path is checked: an ".exe " inside a folder name is no cut, and
  // nothing named after the part before it needs to exist.
  const std::wstring folder = scratch_ + L"\\x.exe dir";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring inner = CopyChildTo(folder + L"\\child.exe");
  EXPECT_EQ(4u, LaunchAndWait(inner, L"4", link_).exitCode);
}

TEST_F(LaunchAndWaitTest, CommandLineFitsAtItsLimitAndOneMoreStartsNothing) {
  // Quote, path, quote, blank, arguments and the zero fill the 1024 characters.
  const size_t room = kChildCommandLineCapacity - (child_.size() + 4);
  const std::wstring fits = L"7 " + std::wstring(room - 2, L'p');

  const ChildOutcome tooLong = LaunchAndWait(child_, fits + L"p", link_);
  EXPECT_FALSE(tooLong.started);
  EXPECT_TRUE(tooLong.commandLineTooLong);
  EXPECT_EQ(0, link_.ends);
  EXPECT_TRUE(Record().empty());

  EXPECT_EQ(7u, LaunchAndWait(child_, fits, link_).exitCode);
  EXPECT_EQ(1, link_.ends);
  EXPECT_EQ(std::vector<std::wstring>{child_ + L"|\"" + child_ + L"\" " + fits},
            RecordValues(L"ran"));
}

TEST_F(LaunchAndWaitTest, BlankInThePathNeverStartsAProgramNamedAfterItsFirstWord) {
  const std::wstring folder = scratch_ + L"\\Jo Smith";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring wanted = CopyChildTo(folder + L"\\child.exe");
  const std::wstring planted = CopyChildTo(scratch_ + L"\\Jo.exe");

  EXPECT_EQ(5u, LaunchAndWait(wanted, L"5", link_).exitCode);

  const std::vector<std::wstring> ran = RecordValues(L"ran");
  ASSERT_EQ(1u, ran.size());
  EXPECT_EQ(wanted + L"|\"" + wanted + L"\" 5", ran[0]);
  EXPECT_EQ(std::wstring::npos, ran[0].find(planted + L"|"));
}

TEST(IsChildDialogClassTest, MatchesEitherNameAnywhereInTheClassCaseSensitively) {
  EXPECT_TRUE(IsChildDialogClass(L"TSetDialog"));
  EXPECT_TRUE(IsChildDialogClass(L"ISTSetDialog32"));
  EXPECT_TRUE(IsChildDialogClass(L"MsiDialogCloseClass"));
  EXPECT_TRUE(IsChildDialogClass(L"xMsiDialogCloseClassx"));
  EXPECT_FALSE(IsChildDialogClass(L"tsetdialog"));
  EXPECT_FALSE(IsChildDialogClass(L"MsiDialogNoCloseClass"));
  EXPECT_FALSE(IsChildDialogClass(L"#32770"));
  EXPECT_FALSE(IsChildDialogClass(L""));
}

TEST_F(LaunchAndWaitTest, RaisesTheChildsDialogOnlyWhenItsClassMatches) {
  EXPECT_TRUE(LaunchAndWait(child_, L"0 dialog ISTSetDialogX", link_).started);
  EXPECT_EQ(std::vector<std::wstring>{L"ISTSetDialogX"}, RecordValues(L"activated"));

  // Lower case does not match: the child waits in vain and ends by itself,
  // well after the one second at which a match would have been raised.
  EXPECT_TRUE(LaunchAndWait(child_, L"0 patience 2000 dialog istsetdialogx", link_).started);
  EXPECT_EQ(std::vector<std::wstring>{L"ISTSetDialogX"}, RecordValues(L"activated"));
  EXPECT_EQ(2, link_.ends);
}

}  // namespace
}  // namespace qnvpd
