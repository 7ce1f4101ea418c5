#include "launch/child_protocol.h"

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

}  // namespace
}  // namespace qnvpd
