#include "bounded_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qnvpd {
namespace {

TEST(BoundedText, AppendThatWouldNotFitFailsAndLeavesTheText) {
  BoundedText<5> text;  // four characters and the zero
  EXPECT_TRUE(text.Append(L"ab"));
  EXPECT_FALSE(text.Append(L"cde"));
  EXPECT_EQ(L"ab", text.str());
  EXPECT_TRUE(text.Append(L'c'));
  EXPECT_TRUE(text.Append(std::wstring(L"d")));
  EXPECT_EQ(L"abcd", std::wstring(text.c_str()));
  EXPECT_FALSE(text.Append(L'e'));
  EXPECT_TRUE(text.Append(L""));
  EXPECT_EQ(4u, text.size());
  EXPECT_EQ(L'\0', text.Buffer()[4]);
}

}  // namespace
}  // namespace qnvpd
