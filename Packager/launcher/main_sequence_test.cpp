#include "launcher/main_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/child_channel.h"
#include "launcher/messages.h"

namespace qnvpd {
namespace {

// What the hooks saw and what they answer; reset for every test.
struct Script {
  LANGID language = 1033;
  int osSupported = 1;
  int anotherInstance = 0;
  int administrator = 1;
  bool windowFails = false;
  int installResult = 0;
  std::vector<WPARAM> posts;  // WM_USER values the "installer" posts
  std::vector<std::wstring> boxes;
  int adminCalls = 0;
  int installCalls = 0;
  int removalCalls = 0;
  int osKmFlag = -1;
  std::wstring tokenSeenByRun;
  HWND windowCreated = nullptr;
  RunContext contextSeen;
  bool quitPendingAtBox = false;
  bool quitInsteadOfRequest = false;  // as when posting the quit request failed
  std::wstring instanceName;
  std::wstring commandLineSeen;
};
Script g_script;

// As a child and a launch do: the "installer" posts its results to the window
// its token names, and the child's end is announced whatever the outcome.
int PostResults(const RunContext& context) {
  g_script.contextSeen = context;
  g_script.tokenSeenByRun = context.childLink->Token();
  for (WPARAM value : g_script.posts) PostMessageW(g_script.windowCreated, WM_USER, value, 0);
  if (g_script.quitInsteadOfRequest) {
    PostQuitMessage(0);
  } else {
    context.childLink->ChildEnded();
  }
  return g_script.installResult;
}

SequenceHooks ScriptHooks() {
  SequenceHooks h;
  h.userLanguage = [] { return g_script.language; };
  h.isOsSupported = [](int km) {
    g_script.osKmFlag = km;
    return g_script.osSupported;
  };
  h.checkSingleInstance = [](const wchar_t* name) {
    g_script.instanceName = name;
    return g_script.anotherInstance ? InstanceCheck::kAnotherCopy : InstanceCheck::kAlone;
  };
  h.isAdministrator = [] {
    ++g_script.adminCalls;
    return g_script.administrator;
  };
  h.createNotifyWindow = [](HINSTANCE instance, const wchar_t* className, const wchar_t* title) {
    if (g_script.windowFails) return static_cast<HWND>(nullptr);
    g_script.windowCreated = CreateNotifyWindow(instance, className, title);
    return g_script.windowCreated;
  };
  h.showMessage = [](const wchar_t* text) {
    g_script.boxes.push_back(text);
    // A quit request still queued would end the box's own message loop at once.
    MSG pending;
    g_script.quitPendingAtBox =
        PeekMessageW(&pending, nullptr, kQuitRequest, kQuitRequest, PM_NOREMOVE) != FALSE ||
        PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
  };
  h.runInstall = [](const RunContext& context) {
    ++g_script.installCalls;
    g_script.commandLineSeen = context.commandLine;
    return PostResults(context);
  };
  h.runRemoval = [](const RunContext& context) {
    ++g_script.removalCalls;
    return PostResults(context);
  };
  return h;
}

class MainSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override { g_script = Script(); }
  int Run(const wchar_t* commandLine) {
    return RunMainSequence(GetModuleHandleW(nullptr), commandLine, ScriptHooks());
  }
};

TEST_F(MainSequenceTest, UnsupportedOsRefusedBeforeAnythingExists) {
  g_script.osSupported = 0;
  EXPECT_EQ(102, Run(L""));
  ASSERT_EQ(1u, g_script.boxes.size());
  EXPECT_EQ(L"This operating system is not supported.\r\nInstallation canceled.",
            g_script.boxes[0]);
  EXPECT_EQ(nullptr, g_script.windowCreated);
  EXPECT_EQ(0, g_script.adminCalls);

  g_script.boxes.clear();
  EXPECT_EQ(102, Run(L"-s1"));
  EXPECT_TRUE(g_script.boxes.empty());
  EXPECT_EQ(0, g_script.installCalls);
}

TEST_F(MainSequenceTest, KmSwitchReachesTheVersionCheck) {
  Run(L"-u1 -km");
  EXPECT_EQ(1, g_script.osKmFlag);
  Run(L"-u1 -Km");
  EXPECT_EQ(0, g_script.osKmFlag);
}

TEST_F(MainSequenceTest, SecondCopyGets101AndSkipsTheAdministratorCheck) {
  g_script.anotherInstance = 1;
  EXPECT_EQ(101, Run(L""));
  EXPECT_EQ(L"QN Virtual Port Driver Installer", g_script.instanceName);
  EXPECT_EQ(0, g_script.adminCalls);
  ASSERT_EQ(1u, g_script.boxes.size());
  EXPECT_EQ(L"This installer is already running.", g_script.boxes[0]);
  EXPECT_EQ(0, g_script.installCalls);
  EXPECT_TRUE(IsWindow(g_script.windowCreated)) << "left to the end of the process";
}

TEST_F(MainSequenceTest, NotAdministratorGets104InTheUsersLanguage) {
  g_script.administrator = 0;
  g_script.language = 1041;
  EXPECT_EQ(104, Run(L""));
  ASSERT_EQ(1u, g_script.boxes.size());
  EXPECT_EQ(MessageTextsFor(1041).notAdministrator, g_script.boxes[0]);

  g_script.boxes.clear();
  EXPECT_EQ(104, Run(L"-u1"));
  EXPECT_TRUE(g_script.boxes.empty());
}

TEST_F(MainSequenceTest, PortConflictsOnlyInRunModeOneAndTheyReplace101) {
  g_script.anotherInstance = 1;
  EXPECT_EQ(106, Run(L"-s1 -QN:COM3 -VD:COM3"));
  EXPECT_TRUE(g_script.boxes.empty());
  g_script.anotherInstance = 0;
  EXPECT_EQ(107, Run(L"-s1 -VD:COM2"));
  EXPECT_EQ(0, g_script.installCalls);

  // The same options without -s1 are not read.
  EXPECT_EQ(0, Run(L"-u1 -QN:COM3 -VD:COM3"));
  EXPECT_EQ(0, Run(L"-QN:COM3 -VD:COM3"));
  EXPECT_EQ(2, g_script.installCalls);
}

TEST_F(MainSequenceTest, SuccessEndsWithThePostedCode) {
  g_script.posts = {3, 0x00012345};
  EXPECT_EQ(0x2345, Run(L"-s1 -QN:COM1"));
  EXPECT_EQ(L"-s1 -QN:COM1", g_script.commandLineSeen);
  EXPECT_EQ(1, g_script.installCalls);
  EXPECT_EQ(0, g_script.removalCalls);
  const RunContext& seen = g_script.contextSeen;
  EXPECT_EQ(L"/W32:" + std::to_wstring(reinterpret_cast<LONG_PTR>(g_script.windowCreated)) +
                L":1024",
            g_script.tokenSeenByRun);
  EXPECT_EQ(L"/clone_wait /hide_progress -l0x0409", seen.installerOptions);
  EXPECT_EQ(kRunSilentWithPorts, seen.runMode);
  EXPECT_EQ(1033, seen.language);
}

TEST_F(MainSequenceTest, FailedInstallShowsTheBoxAndDestroysTheWindow) {
  g_script.installResult = 1001;
  EXPECT_EQ(1001, Run(L""));
  ASSERT_EQ(1u, g_script.boxes.size());
  EXPECT_EQ(L"Installation failed.", g_script.boxes[0]);
  EXPECT_FALSE(g_script.quitPendingAtBox) << "the box would close by itself";
  EXPECT_FALSE(IsWindow(g_script.windowCreated));
}

TEST_F(MainSequenceTest, WindowThatCannotBeCreatedFailsTheRunWithOneBox) {
  g_script.windowFails = true;
  EXPECT_EQ(1001, Run(L""));
  EXPECT_EQ(std::vector<std::wstring>{L"Installation failed."}, g_script.boxes);
  EXPECT_EQ(0, g_script.adminCalls);
  EXPECT_EQ(0, g_script.installCalls);

  g_script.boxes.clear();
  EXPECT_EQ(1001, Run(L"-u3"));
  EXPECT_TRUE(g_script.boxes.empty());
  EXPECT_EQ(0, g_script.removalCalls);
}

// A quit request that could not be posted leaves the thread's quit message
// behind; the box must not inherit it either.
TEST_F(MainSequenceTest, FailedRunClearsAQuitMessageBeforeTheBox) {
  g_script.installResult = 1001;
  g_script.quitInsteadOfRequest = true;
  EXPECT_EQ(1001, Run(L""));
  ASSERT_EQ(1u, g_script.boxes.size());
  EXPECT_FALSE(g_script.quitPendingAtBox);
}

TEST_F(MainSequenceTest, RemovalRunIsSilentAndUsesTheWindow) {
  EXPECT_EQ(0, Run(L"-u3 -s1"));
  EXPECT_EQ(1, g_script.removalCalls);
  EXPECT_EQ(0, g_script.installCalls);
  EXPECT_EQ(FormatNotifyToken(g_script.windowCreated), g_script.tokenSeenByRun);
  EXPECT_EQ(kRunRemoval, g_script.contextSeen.runMode);

  g_script.installResult = 1001;
  EXPECT_EQ(1001, Run(L"-U3"));
  EXPECT_TRUE(g_script.boxes.empty());
}

}  // namespace
}  // namespace qnvpd
