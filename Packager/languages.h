// The languages the package knows: one row per user default language id, with
// everything that depends on it.
#pragma once

#include <windows.h>

namespace qnvpd {

// Which row of failure texts a language gets.
enum class MessageLanguage { English, Japanese, ChinesePrc, ChineseTaiwan };

struct LanguageRow {
  LANGID userLanguage;          // the exact id the row is chosen by (0: every other id)
  LANGID stringTable;           // language of the string-table entries the package reads
  MessageLanguage messages;     // failure texts
  const wchar_t* installerSwitch;  // the product installer's language switch
};

// The row for a user default language id: Japanese (1041), Chinese PRC (2052),
// Chinese Taiwan (1028), and the English row for every other id.
const LanguageRow& LanguageFor(LANGID userLanguage);

}  // namespace qnvpd
