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

// Wine has no private namespaces: a name taken by another kind of object
// stops the run there, as it always did.
TEST(SingleInstanceTest, NameTakenByAnotherKindOfObjectRefusesWithoutPrivateNamespaces) {
  std::wstring name = UniqueName(L"event");
  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(event.IsValid());
  ASSERT_EQ(nullptr, CreateMutexW(nullptr, FALSE, name.c_str()));
  EXPECT_EQ(1, IsAnotherInstanceRunning(name.c_str()));
}

// The package's private namespace, which Wine lacks, stood in for by a mutex
// under a name of the test's own; and the owner of an existing mutex, which
// Wine does not record, as the test sets it.
HANDLE StandInPrivateMutex(const wchar_t* name) {
  return CreateMutexW(nullptr, FALSE, (std::wstring(L"QNVPD private ") + name).c_str());
}
HANDLE NoPrivateNamespace(const wchar_t*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return nullptr;
}
bool MadeByAPackage(HANDLE) { return true; }
bool MadeBySomeoneElse(HANDLE) { return false; }

// A name squatted by what no copy of the package made (an event, a standard
// user's mutex) does not stop the run where the private namespace guards it;
// a second copy is still refused, also once the squatter has gone. A mutex a
// copy made is another copy; without private namespaces a squatted name stops
// the run as before.
TEST(SingleInstanceTest, SquattedNameIsGuardedInThePrivateNamespace) {
  const InstanceGuardSystem guarded = {StandInPrivateMutex, MadeBySomeoneElse};
  const InstanceGuardSystem unguarded = {NoPrivateNamespace, MadeBySomeoneElse};
  for (bool byEvent : {true, false}) {
    const std::wstring name = UniqueName(byEvent ? L"squatted by an event" : L"squatted by a mutex");
    ScopedHandle squatter(byEvent ? CreateEventW(nullptr, TRUE, FALSE, name.c_str())
                                  : CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(squatter.IsValid());
    EXPECT_EQ(CheckSingleInstance(name.c_str(), unguarded),
              byEvent ? InstanceCheck::kNoGuard : InstanceCheck::kAnotherCopy)
        << byEvent;
    EXPECT_EQ(CheckSingleInstance(name.c_str(), guarded), InstanceCheck::kAloneNameTaken) << byEvent;
    EXPECT_EQ(CheckSingleInstance(name.c_str(), guarded), InstanceCheck::kAnotherCopy) << byEvent;
    squatter.Reset();
    // The name is free again, but the copy that ran beside the squatter still runs.
    EXPECT_EQ(CheckSingleInstance(name.c_str(), guarded), InstanceCheck::kAnotherCopy) << byEvent;
  }
  const std::wstring name = UniqueName(L"a copy's");
  ScopedHandle copy(CreateMutexW(nullptr, FALSE, name.c_str()));
  EXPECT_EQ(CheckSingleInstance(name.c_str(), {StandInPrivateMutex, MadeByAPackage}),
            InstanceCheck::kAnotherCopy);
}

}  // namespace
}  // namespace qnvpd
