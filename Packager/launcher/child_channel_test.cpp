#include "launcher/child_channel.h"

#include <gtest/gtest.h>

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

UINT g_lastPost = 0;
BOOL WINAPI FailingPost(HWND, UINT message, WPARAM, LPARAM) {
  g_lastPost = message;
  return FALSE;
}

// A real hidden window of the class, and the thread's real message queue.
class ChildChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Open(&channel_)); }
  void TearDown() override { channel_.Close(); }
  static bool Open(ChildChannel* channel) {
    return channel->Open(GetModuleHandleW(nullptr), L"QnvpdChildChannelTest", L"test");
  }
  ChildChannel channel_;
};

TEST_F(ChildChannelTest, HiddenWindowOfTheClassNamedByTheToken) {
  const HWND w = channel_.Window();
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_EQ(w, FindWindowW(L"QnvpdChildChannelTest", nullptr));
  EXPECT_EQ(FormatNotifyToken(w), channel_.Token());
}

TEST_F(ChildChannelTest, LoopEndsOnTheChildsEndWithTheLastPostedCode) {
  const HWND w = channel_.Window();
  PostMessageW(w, WM_USER, 3, 0);
  PostMessageW(w, WM_USER, 5, 77);
  channel_.ChildEnded();
  EXPECT_EQ(5, channel_.RunMessageLoop());
  EXPECT_EQ(5, channel_.PostedExitCode());
}

TEST_F(ChildChannelTest, OnlyTheLow16BitsCount) {
  const HWND w = channel_.Window();
  PostMessageW(w, WM_USER, 0x00012345, 0);
  PostMessageW(w, kQuitRequest, 0, 0);
  EXPECT_EQ(0x2345, channel_.RunMessageLoop());
  PostMessageW(w, WM_USER, 0xFFFFFFFF, 0);
  PostMessageW(w, kQuitRequest, 0, 0);
  EXPECT_EQ(65535, channel_.RunMessageLoop());
}

bool g_loopStuck = false;
void CALLBACK EndStuckLoop(HWND, UINT, UINT_PTR, DWORD) {
  g_loopStuck = true;
  PostQuitMessage(0);
}

TEST_F(ChildChannelTest, QuitRequestThatCannotBePostedStillEndsTheLoopAfterTheResults) {
  ChildChannel refused(MessagePosting{FailingPost});
  ASSERT_TRUE(Open(&refused));
  const HWND w = refused.Window();
  PostMessageW(w, WM_USER, 3, 0);
  PostMessageW(w, WM_USER, 5, 0);
  g_lastPost = 0;
  refused.ChildEnded();
  EXPECT_EQ(kQuitRequest, g_lastPost);

  // Without the fallback the loop would wait for ever; the timer ends it then.
  g_loopStuck = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 5000, EndStuckLoop);
  EXPECT_EQ(5, refused.RunMessageLoop());
  KillTimer(nullptr, timer);
  EXPECT_FALSE(g_loopStuck);
  refused.Close();
}

TEST_F(ChildChannelTest, NoResultMessageMeansZero) {
  channel_.ChildEnded();
  EXPECT_EQ(0, channel_.RunMessageLoop());
}

}  // namespace
}  // namespace qnvpd
