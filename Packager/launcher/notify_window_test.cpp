#include "launcher/notify_window.h"

#include <gtest/gtest.h>

#include "launch/child_protocol.h"

namespace qnvpd {
namespace {

// A real hidden window of the class, and the thread's real message queue.
class NotifyWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterNotifyWindowClass(GetModuleHandleW(nullptr), L"QnvpdNotifyWindowTest");
    window_ = CreateNotifyWindow(GetModuleHandleW(nullptr), L"QnvpdNotifyWindowTest", L"test");
    ASSERT_NE(nullptr, window_);
  }
  void TearDown() override { DestroyWindow(window_); }
  HWND window_ = nullptr;
};

TEST_F(NotifyWindowTest, HiddenWindowOfTheClass) {
  EXPECT_FALSE(IsWindowVisible(window_));
  EXPECT_EQ(window_, FindWindowW(L"QnvpdNotifyWindowTest", nullptr));
}

TEST_F(NotifyWindowTest, LoopEndsOnQuitRequestWithTheLastPostedCode) {
  HWND w = window_;
  PostMessageW(w, WM_USER, 3, 0);
  PostMessageW(w, WM_USER, 5, 77);
  PostMessageW(w, kQuitRequest, 123, 456);
  EXPECT_EQ(5, RunMessageLoop(w));
}

TEST_F(NotifyWindowTest, OnlyTheLow16BitsCount) {
  HWND w = window_;
  PostMessageW(w, WM_USER, 0x00012345, 0);
  PostMessageW(w, kQuitRequest, 0, 0);
  EXPECT_EQ(0x2345, RunMessageLoop(w));
  PostMessageW(w, WM_USER, 0xFFFFFFFF, 0);
  PostMessageW(w, kQuitRequest, 0, 0);
  EXPECT_EQ(65535, RunMessageLoop(w));
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
  HWND w = window_;
  PostMessageW(w, WM_USER, 3, 0);
  PostMessageW(w, WM_USER, 5, 0);
  PostQuitRequest(w, MessagePosting{FailingPost});
  EXPECT_EQ(kQuitRequest, g_lastPost);

  // Without the fallback the loop would wait for ever; the timer ends it then.
  g_loopStuck = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 5000, EndStuckLoop);
  EXPECT_EQ(5, RunMessageLoop(w));
  KillTimer(nullptr, timer);
  EXPECT_FALSE(g_loopStuck);
}

TEST_F(NotifyWindowTest, NoResultMessageMeansZero) {
  PostMessageW(window_, kQuitRequest, 0, 0);
  EXPECT_EQ(0, RunMessageLoop(window_));
}

}  // namespace
}  // namespace qnvpd
