// What the package says on failure, and in which language.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The caption of every message box, in every language.
extern const wchar_t kMessageCaption[];

struct MessageTexts {
  const wchar_t* alreadyRunning;   // 101
  const wchar_t* unsupportedOs;    // 102
  const wchar_t* notAdministrator; // 104
  const wchar_t* installFailed;    // 1001
};

// The row of texts for a user default language id: Japanese (1041), Chinese
// PRC (2052), Chinese Taiwan (1028), English for every other id.
const MessageTexts& MessageTextsFor(LANGID userLanguage);

// The text for a result code (101, 102, 104, 1001) in the row of a user default
// language id, else an empty text.
std::wstring MessageText(int code, LANGID userLanguage);

}  // namespace qnvpd
