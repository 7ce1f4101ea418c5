#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "result_codes.h"

namespace qnvpd {
namespace {

struct RunModeCase {
  const wchar_t* commandLine;
  int runMode;
  const wchar_t* options;  // nullptr: left untouched
};

TEST(ParseRunMode, SwitchesAndTheirOrder) {
  const RunModeCase cases[] = {
      {L"", kRunInteractive, L"/clone_wait"},
      {L"/s1 -s2 -S2 -u2 -Km", kRunInteractive, L"/clone_wait"},
      {L"-s1", kRunSilentWithPorts, L"/clone_wait /hide_progress -l0x0409"},
      {L"-S1", kRunSilentWithPorts, L"/clone_wait /hide_progress -l0x0409"},
      {L"-s10", kRunSilentWithPorts, L"/clone_wait /hide_progress -l0x0409"},
      {L"\"x-s1x\"", kRunSilentWithPorts, L"/clone_wait /hide_progress -l0x0409"},
      {L"-u1", kRunSilent, L"/clone_wait /hide_progress -l0x0409"},
      {L"-U1", kRunSilent, L"/clone_wait /hide_progress -l0x0409"},
      {L"-U1 -S1", kRunSilentWithPorts, L"/clone_wait /hide_progress -l0x0409"},
      {L"-u3", kRunRemoval, nullptr},
      {L"-s1 -U3", kRunRemoval, nullptr},
      {L"-u1 -u3 -s1", kRunRemoval, nullptr},
  };
  for (const auto& c : cases) {
    std::wstring options = L"previous";
    EXPECT_EQ(c.runMode, ParseRunMode(c.commandLine, 1033, &options)) << c.commandLine;
    EXPECT_EQ(c.options ? c.options : L"previous", options) << c.commandLine;
  }
}

TEST(ParseRunMode, LanguageTokenFollowsTheExactLanguageId) {
  struct {
    LANGID language;
    const wchar_t* token;
  } cases[] = {{1041, L"-l0x0411"}, {1028, L"-l0x0404"}, {2052, L"-l0x0804"},
               {1033, L"-l0x0409"}, {3076, L"-l0x0409"}, {4100, L"-l0x0409"},
               {2057, L"-l0x0409"}, {1031, L"-l0x0409"}, {0x0011, L"-l0x0409"}};
  for (const auto& c : cases) {
    std::wstring options;
    ParseRunMode(L"-u1", c.language, &options);
    EXPECT_EQ(std::wstring(L"/clone_wait /hide_progress ") + c.token, options) << c.language;
    ParseRunMode(L"", c.language, &options);
    EXPECT_EQ(L"/clone_wait", options) << "the interactive run carries no language";
  }
  std::wstring english;
  ParseRunMode(L"-s1", 1033, &english);
  EXPECT_EQ(35u, english.size());
}

TEST(ParseLogSwitch, ValueAndTheTextLeftForTheOtherSwitches) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* path;
    std::vector<std::wstring> blanked;  // the pieces that become blanks, in order
  } cases[] = {
      {L"", L"", {}},
      {L"-s1 -QN:COM3", L"", {}},
      {L"-s1 -LOG:C:\\logs\\qn-u3.log -QN:COM3", L"C:\\logs\\qn-u3.log",
       {L"-LOG:C:\\logs\\qn-u3.log"}},
      {L"-log:qn-s1-KM.log\t-u1", L"qn-s1-KM.log", {L"-log:qn-s1-KM.log"}},
      {L"-s1 -LOG:\"C:\\Deploy Logs\\qn-u3.log\" -QN:COM3", L"C:\\Deploy Logs\\qn-u3.log",
       {L"-LOG:\"C:\\Deploy Logs\\qn-u3.log\""}},
      {L"-u1 -LOG:", L"", {L"-LOG:"}},
      {L"-LOG: -s1", L"", {L"-LOG:"}},
      {L"-LOG:\"\" -s1", L"", {L"-LOG:\"\""}},
      // An unterminated quote runs to the end, as in Windows' own argument rules.
      {L"-u1 -LOG:\"C:\\Deploy Logs\\qn-u3.log -QN:COM3",
       L"C:\\Deploy Logs\\qn-u3.log -QN:COM3", {L"-LOG:\"C:\\Deploy Logs\\qn-u3.log -QN:COM3"}},
      // The first one is used; a second one is a -LOG: switch too.
      {L"-LOG:a.log -u1 -log:b-u3.log", L"a.log", {L"-LOG:a.log", L"-log:b-u3.log"}},
      {L"-LOG:\"x -LOG:y\" -s1", L"x -LOG:y", {L"-LOG:\"x -LOG:y\""}},
      // Only the two spellings, found anywhere, like every switch.
      {L"-Log:qn-u3.log -LOG-u1", L"", {}},
      {L"-QN:COM3-LOG:qn-u3.log", L"qn-u3.log", {L"-LOG:qn-u3.log"}},
  };
  for (const auto& c : cases) {
    std::wstring expected = c.commandLine;
    size_t from = 0;
    for (const std::wstring& piece : c.blanked) {
      from = expected.find(piece, from);
      ASSERT_NE(std::wstring::npos, from) << c.commandLine;
      expected.replace(from, piece.size(), piece.size(), L' ');
    }
    const LogSwitch parsed = ParseLogSwitch(c.commandLine);
    EXPECT_EQ(c.path, parsed.path) << c.commandLine;
    EXPECT_EQ(expected, parsed.switchText) << c.commandLine;
  }
  EXPECT_EQ(L"", ParseLogSwitch(nullptr).switchText);
}

TEST(HasKmSwitch, OnlyTheTwoSpellingsAnywhere) {
  EXPECT_EQ(1, HasKmSwitch(L"-KM"));
  EXPECT_EQ(1, HasKmSwitch(L"-s1 x-kmx"));
  EXPECT_EQ(0, HasKmSwitch(L"-Km -kM KM km"));
  EXPECT_EQ(0, HasKmSwitch(L""));
}

TEST(ConvertDecimal, BehavesLikeTheRuntimeConversion) {
  auto conv = [](const std::wstring& s) { return ConvertDecimal(s.c_str(), s.size()); };
  EXPECT_EQ(5, conv(L"5"));
  EXPECT_EQ(5, conv(L"05"));
  EXPECT_EQ(5, conv(L"5x"));
  EXPECT_EQ(5, conv(L"5,-VD:COM6"));
  EXPECT_EQ(0, conv(L""));
  EXPECT_EQ(0, conv(L"x5"));
  EXPECT_EQ(-3, conv(L"-3"));
  EXPECT_EQ(7, conv(L"+7"));
  EXPECT_EQ(12, conv(L" \t12"));
  EXPECT_EQ(0, conv(L"- 3"));
  // Overflow saturates: a huge number must never wrap round into a valid port.
  EXPECT_EQ(2147483647, conv(L"4294967301"));
  EXPECT_EQ(2147483647, conv(std::wstring(5000, L'9')));
  EXPECT_EQ(-2147483647 - 1, conv(L"-99999999999"));
  // Only the given length is read.
  EXPECT_EQ(1, ConvertDecimal(L"12", 1));
}

struct PortCase {
  const wchar_t* commandLine;
  int qn;
  int vd;
};

TEST(ParsePortOptions, ValuesAndPrecedence) {
  const PortCase cases[] = {
      {L"-s1 -QN:COM5", 5, 0},
      {L"-s1 -qn:com5", 0, 0},
      {L"-s1 -QN:COM0", 0, 0},
      {L"-s1 -QN:COM32", 32, 0},
      {L"-s1 -QN:COM33", 0, 0},
      {L"-s1 -QN:COM -VD:COM4", 0, 4},
      {L"-s1 -QN:LPT3", 35, 0},
      {L"-s1 -QN:COM4 -QN:LPT3", 35, 0},
      {L"-s1 -QN:LPT3 -QN:COM4", 35, 0},
      {L"-s1 -QN:COM4 -QN:LPT9", 4, 0},
      {L"-s1 -QN:COM4 -QN:LPT0", 4, 0},
      {L"-s1 -QN:COM7 -QN:COM8", 7, 0},
      {L"-s1 -QN:COM5,-VD:COM6", 5, 6},
      {L"-s1 -QN:COM-3", 0, 0},
      {L"-s1 -QN:COM05", 5, 0},
      {L"-s1 -QN:COM5\t-VD:COM6", 5, 6},
      {L"-s1 -VD:LPT8 -QN:LPT1", 33, 40},
      {L"-s1 -QN:COM99999999999999999999", 0, 0},
      {L"-s1 -QN:COM4294967301", 0, 0},
      {L"-s1 -QN:LPT", 0, 0},
      {L"-s1 -VD:COM", 0, 0},
  };
  for (const auto& c : cases) {
    int qn = -1, vd = -1;
    ParsePortOptions(c.commandLine, kRunSilentWithPorts, &qn, &vd);
    EXPECT_EQ(c.qn, qn) << c.commandLine;
    EXPECT_EQ(c.vd, vd) << c.commandLine;
  }
}

TEST(ParsePortOptions, ReadOnlyInRunModeOne) {
  for (int mode : {kRunInteractive, kRunSilent, kRunRemoval}) {
    int qn = -1, vd = -1;
    ParsePortOptions(L"-QN:COM5 -VD:COM6", mode, &qn, &vd);
    EXPECT_EQ(0, qn);
    EXPECT_EQ(0, vd);
  }
}

TEST(ParsePortOptions, HostileCommandLinesStayInBounds) {
  std::wstring huge(32000, L'9');
  std::wstring lines[] = {
      L"-QN:COM" + huge,
      L"-s1 " + huge + L" -VD:LPT",
      L"-s1 -QN:COM",
      L"-s1 -QN:CO",
      std::wstring(32000, L' ') + L"-s1 -VD:COM1",
  };
  for (const auto& line : lines) {
    int qn = -1, vd = -1;
    std::wstring options;
    int mode = ParseRunMode(line.c_str(), 1033, &options);
    ParsePortOptions(line.c_str(), mode, &qn, &vd);
    EXPECT_GE(qn, 0);
    EXPECT_LE(qn, 40);
    EXPECT_GE(vd, 0);
    EXPECT_LE(vd, 40);
  }
}

TEST(CheckPortConflict, SamePortAndVdWithoutQn) {
  EXPECT_EQ(kResultSamePort, CheckPortConflict(3, 3));
  EXPECT_EQ(kResultSamePort, CheckPortConflict(33, 33));
  EXPECT_EQ(kResultVdWithoutQn, CheckPortConflict(0, 2));
  EXPECT_EQ(kResultOk, CheckPortConflict(3, 35));
  EXPECT_EQ(kResultOk, CheckPortConflict(5, 0));
  EXPECT_EQ(kResultOk, CheckPortConflict(0, 0));
}

}  // namespace
}  // namespace qnvpd
