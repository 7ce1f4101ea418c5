// Shared by the stand-in payload programs: their behaviour is chosen through
// environment variables (inherited from the package), and they record what they
// saw in a report file that tests and the demo read.
//
//   QNVPD_STANDIN_REPORT  report file (default: %TEMP%\qnvpd-standin-report.txt);
//                         lines are appended as UTF-8 "key=value"
//   QNVPD_STANDIN_EXIT    exit code (default 0): decimal or 0x hex, so 0xC0000005
//                         ends the program as a crash would, -1 as 0xFFFFFFFF
//   QNVPD_STANDIN_POST    setup.exe: WM_USER values to post, comma-separated
//                         (decimal or 0x hex), in order
//   QNVPD_STANDIN_DIALOG  setup.exe: a window class to show a top-level window of
//                         (e.g. "TSetDialog"); empty shows none
//   QNVPD_STANDIN_HOLD    a file path: wait (at most 120 s) until it exists
//                         before ending, so a test can look at the running state
//   QNVPD_STANDIN_BROADCAST  setup.exe: "start" or "end": send WM_SETTINGCHANGE
//                         ("Environment") to HWND_BROADCAST with SendMessage
//                         right after starting, or just before ending, as
//                         installers do after changing the environment
#pragma once
#include <string>

namespace standin {

std::wstring Env(const wchar_t* name);
int EnvInt(const wchar_t* name, int fallback);
std::wstring ReportPath();
void Report(const std::wstring& key, const std::wstring& value);
std::wstring CurrentFolder();
std::wstring ModulePath(void* module);
void HoldIfAsked();
// FNV-1a (64 bit) of a file's bytes as 16 hex digits; empty when unreadable.
std::wstring FileDigest(const std::wstring& path, unsigned long long* size);

}  // namespace standin
