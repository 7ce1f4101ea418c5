#include "checks/single_instance.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "scoped.h"

namespace qnvpd {
namespace {

// A name no other test (or earlier run in this prefix) uses.
std::wstring UniqueName(const wchar_t* what) {
  return L"QNVPD check test " + std::to_wstring(GetCurrentProcessId()) + L" " + what;
}

TEST(SingleInstanceTest, FirstCallGoesOnSecondRefuses) {
  std::wstring name = UniqueName(L"twice");
  EXPECT_EQ(0, IsAnotherInstanceRunning(name.c_str()));
  EXPECT_EQ(1, IsAnotherInstanceRunning(name.c_str()));
  EXPECT_EQ(1, IsAnotherInstanceRunning(name.c_str()));
}

TEST(SingleInstanceTest, MutexStaysUnderItsOwnNameAndUnowned) {
  std::wstring name = UniqueName(L"kept");
  ASSERT_EQ(0, IsAnotherInstanceRunning(name.c_str()));

  // Still there after the call (the handle was not closed), under the name as given.
  ScopedHandle opened(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  ASSERT_TRUE(opened.IsValid()) << GetLastError();

  // Nobody owns it: another thread can take it at once.
  DWORD waited = WAIT_FAILED;
  std::thread other([&] {
    waited = WaitForSingleObject(opened.Get(), 0);
    if (waited == WAIT_OBJECT_0) ReleaseMutex(opened.Get());
  });
  other.join();
  EXPECT_EQ(WAIT_OBJECT_0, waited);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcW(window, message, w, l);
}

TEST(SingleInstanceTest, WindowOfThatClassDoesNotChangeTheAnswer) {
  std::wstring name = UniqueName(L"window");
  WNDCLASSW wc = {};
  wc.lpfnWndProc = PlainWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name.c_str();
  ASSERT_NE(0, RegisterClassW(&wc));
  HWND window = CreateWindowExW(0, name.c_str(), L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, window);
  ASSERT_EQ(window, FindWindowW(name.c_str(), nullptr));

  // The package's own hidden window bears the class before the check runs.
  EXPECT_EQ(0, IsAnotherInstanceRunning(name.c_str()));
  EXPECT_EQ(1, IsAnotherInstanceRunning(name.c_str()));
  EXPECT_TRUE(IsWindow(window));

  DestroyWindow(window);
  UnregisterClassW(name.c_str(), wc.hInstance);
}

TEST(SingleInstanceTest, NameTakenByAnotherKindOfObjectRefuses) {
  // The mutex cannot be made when an event already has the name.
  std::wstring name = UniqueName(L"event");
  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(event.IsValid());
  ASSERT_EQ(nullptr, CreateMutexW(nullptr, FALSE, name.c_str()));
  EXPECT_EQ(1, IsAnotherInstanceRunning(name.c_str()));
}

}  // namespace
}  // namespace qnvpd
