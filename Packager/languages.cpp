#include "languages.h"

namespace qnvpd {

namespace {

// Only Japanese has string-table entries of its own; the Chinese rows read the
// English ones.
const LanguageRow kLanguages[] = {
    {1041, 1041, MessageLanguage::Japanese, L"-l0x0411"},
    {2052, 1033, MessageLanguage::ChinesePrc, L"-l0x0804"},
    {1028, 1033, MessageLanguage::ChineseTaiwan, L"-l0x0404"},
};
const LanguageRow kEveryOtherLanguage = {0, 1033, MessageLanguage::English, L"-l0x0409"};

}  // namespace

const LanguageRow& LanguageFor(LANGID userLanguage) {
  for (const LanguageRow& row : kLanguages) {
    if (row.userLanguage == userLanguage) return row;
  }
  return kEveryOtherLanguage;
}

}  // namespace qnvpd
