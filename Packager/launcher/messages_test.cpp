#include "launcher/messages.h"

#include <gtest/gtest.h>

#include <string>

namespace qnvpd {
namespace {

TEST(Messages, LanguageRowsByExactLanguageId) {
  const MessageTexts& english = MessageTextsFor(1033);
  EXPECT_STREQ(L"This installer is already running.", english.alreadyRunning);
  EXPECT_STREQ(L"Installation failed.", english.installFailed);
  for (LANGID other : {2057, 1031, 3076, 4100, 0}) {
    EXPECT_EQ(&english, &MessageTextsFor(other)) << other;
  }
  EXPECT_EQ(19u, std::wstring(MessageTextsFor(1041).alreadyRunning).size());
  EXPECT_EQ(40u, std::wstring(MessageTextsFor(1041).unsupportedOs).size());
  EXPECT_STREQ(L"\u5B89\u88C5\u5931\u8D25\u3002", MessageTextsFor(2052).installFailed);
  EXPECT_STREQ(L"\u5B89\u88DD\u5931\u6557\u3002", MessageTextsFor(1028).installFailed);
  EXPECT_EQ(11u, std::wstring(MessageTextsFor(1028).notAdministrator).size());
}

TEST(Messages, TextForEachCodeInTheLanguagesRow) {
  EXPECT_EQ(L"This operating system is not supported.\r\nInstallation canceled.",
            MessageText(102, 1033));
  EXPECT_EQ(L"Please log on administrator account.", MessageText(104, 1033));
  for (int code : {0, 106, 107, 1, -1, 1000}) EXPECT_EQ(L"", MessageText(code, 1033)) << code;
  EXPECT_EQ(MessageTextsFor(1041).installFailed, MessageText(1001, 1041));
  EXPECT_EQ(MessageTextsFor(1028).alreadyRunning, MessageText(101, 1028));
}

TEST(Messages, CaptionNamesVersionB) {
  EXPECT_STREQ(L"KAVRO QN Virtual Port Driver Ver.7.20b", kMessageCaption);
}

}  // namespace
}  // namespace qnvpd
