#include "launcher/notify_window.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "launcher/process_state.h"

namespace qnvpd {
namespace {

TEST(FormatNotifyToken, SignedDecimalHandle) {
  EXPECT_EQ(L"/W32:1:1024", FormatNotifyToken(reinterpret_cast<HWND>(1)));
  EXPECT_EQ(L"/W32:197852:1024", FormatNotifyToken(reinterpret_cast<HWND>(197852)));
  EXPECT_EQ(L"/W32:-2147483648:1024",
            FormatNotifyToken(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x80000000u))));
  EXPECT_EQ(L"/W32:-1:1024",
            FormatNotifyToken(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xFFFFFFFFu))));
}

// A real hidden window of the class, and the thread's real message queue.
class NotifyWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wcscpy(g_state.className, L"QnvpdNotifyWindowTest");
    wcscpy(g_state.windowTitle, L"test");
    g_state.postedExitCode = 0;
    RegisterNotifyWindowClass(GetModuleHandleW(nullptr));
    ASSERT_EQ(1, CreateNotifyWindow(GetModuleHandleW(nullptr)));
  }
  void TearDown() override { DestroyWindow(g_state.notifyWindow); }
};

TEST_F(NotifyWindowTest, HiddenWindowOfTheClass) {
  EXPECT_FALSE(IsWindowVisible(g_state.notifyWindow));
  EXPECT_EQ(g_state.notifyWindow, FindWindowW(L"QnvpdNotifyWindowTest", nullptr));
}

TEST_F(NotifyWindowTest, LoopEndsOnQuitRequestWithTheLastPostedCode) {
  HWND w = g_state.notifyWindow;
  PostMessageW(w, WM_USER, 3, 0);
  PostMessageW(w, WM_USER, 5, 77);
  PostMessageW(w, kQuitRequest, 123, 456);
  EXPECT_EQ(5, RunMessageLoop());
}

TEST_F(NotifyWindowTest, OnlyTheLow16BitsCount) {
  HWND w = g_state.notifyWindow;
  PostMessageW(w, WM_USER, 0x00012345, 0);
  PostMessageW(w, kQuitRequest, 0, 0);
  EXPECT_EQ(0x2345, RunMessageLoop());
  PostMessageW(w, WM_USER, 0xFFFFFFFF, 0);
  PostMessageW(w, kQuitRequest, 0, 0);
  EXPECT_EQ(65535, RunMessageLoop());
}

UINT g_lastPost = 0;
BOOL WINAPI FailingPost(HWND, UINT message, WPARAM, LPARAM) {
  g_lastPost = message;
  return FALSE;
}

bool g_loopStuck = false;
void CALLBACK EndStuckLoop(HWND, UINT, UINT_PTR, DWORD) {
  g_loopStuck = true;
  PostQuitMessage(0);
}

TEST_F(NotifyWindowTest, QuitRequestThatCannotBePostedStillEndsTheLoopAfterTheResults) {
  HWND w = g_state.notifyWindow;
  PostMessageW(w, WM_USER, 3, 0);
  PostMessageW(w, WM_USER, 5, 0);
  PostQuitRequest(w, FailingPost);
  EXPECT_EQ(kQuitRequest, g_lastPost);

  // Without the fallback the loop would wait for ever; the timer ends it then.
  g_loopStuck = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 5000, EndStuckLoop);
  EXPECT_EQ(5, RunMessageLoop());
  KillTimer(nullptr, timer);
  EXPECT_FALSE(g_loopStuck);
}

TEST_F(NotifyWindowTest, NoResultMessageMeansZero) {
  PostMessageW(g_state.notifyWindow, kQuitRequest, 0, 0);
  EXPECT_EQ(0, RunMessageLoop());
}

}  // namespace
}  // namespace qnvpd
