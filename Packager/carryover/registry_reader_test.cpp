#include "carryover/registry_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scratch_registry.h"

namespace qnvpd {
namespace {

using namespace qnvpd_test;

// A registry that answers index by index from a script: a name, or an error.
struct ScriptedEnumerator {
  std::vector<std::pair<LONG, std::string>> answers;  // past the end: ERROR_NO_MORE_ITEMS
  LONG beyond = ERROR_NO_MORE_ITEMS;
  std::vector<DWORD> offeredSizes;

  LONG Answer(DWORD index, char* name, DWORD* nameChars) {
    offeredSizes.push_back(*nameChars);
    if (index >= answers.size()) return beyond;
    const auto& answer = answers[index];
    if (answer.first == ERROR_SUCCESS) {
      std::memcpy(name, answer.second.c_str(), answer.second.size() + 1);
      *nameChars = static_cast<DWORD>(answer.second.size());
    }
    return answer.first;
  }
};

ScriptedEnumerator* g_script = nullptr;

std::vector<std::string> Walk(ScriptedEnumerator* script) {
  g_script = script;
  const SubkeyEnumeration scripted = {
      [](HKEY, DWORD i, char* n, DWORD* s) { return g_script->Answer(i, n, s); }};
  std::vector<std::string> names;
  ForEachSubkeyName(nullptr, [&names](const std::string& name) { names.push_back(name); },
                    scripted);
  return names;
}

TEST(SubkeyWalk, SkipsFailingIndexesAndOffersTheFullSizeEveryTime) {
  ScriptedEnumerator script;
  script.answers = {{ERROR_SUCCESS, "0000"},
                    {ERROR_ACCESS_DENIED, ""},
                    {ERROR_MORE_DATA, ""},
                    {ERROR_SUCCESS, "7"},
                    {ERROR_SUCCESS, std::string(259, 'n')}};
  EXPECT_EQ((std::vector<std::string>{"0000", "7", std::string(259, 'n')}), Walk(&script));
  EXPECT_EQ(std::vector<DWORD>(6, kRegistryNameChars), script.offeredSizes);
}

TEST(SubkeyWalk, GivesUpOnAKeyThatFailsForGood) {
  ScriptedEnumerator script;
  script.answers = {{ERROR_SUCCESS, "A"}};
  script.beyond = ERROR_KEY_DELETED;
  EXPECT_EQ(std::vector<std::string>{"A"}, Walk(&script));
  EXPECT_EQ(1 + kMaxEnumerationErrors, script.offeredSizes.size());
}

TEST(SubkeyWalk, ErrorsBetweenNamesDoNotEndTheWalk) {
  ScriptedEnumerator script;
  for (DWORD i = 0; i < 3 * kMaxEnumerationErrors; ++i) {
    bool named = i % (kMaxEnumerationErrors - 1) == 0;
    script.answers.push_back({named ? ERROR_SUCCESS : ERROR_INVALID_DATA, named ? "k" : ""});
  }
  EXPECT_EQ(std::vector<std::string>(4, "k"), Walk(&script));
}

class RegistryReads : public ScratchRegistryTest {};

TEST_F(RegistryReads, StringsMustFitTheirBufferWithATerminator) {
  Put("K", {Sz("plain", "COM5"), Sz("longest", std::string(259, 'a')),
            Sz("toolong", std::string(260, 'b')), Raw("fills", REG_BINARY, std::string(260, 'c')),
            Raw("almost", REG_BINARY, std::string(259, 'd')),
            Raw("early", REG_BINARY, std::string("e\0", 2) + std::string(258, 'f')),
            MultiSz("multi", {"first", "second"}), Raw("empty", REG_SZ, "")});
  PutWide("K", L"bare", REG_SZ, L"AB");
  ScopedKey key;
  ASSERT_TRUE(OpenKeyForReading("K", &key));
  struct Case {
    const char* name;
    bool ok;
    std::string text;
  } cases[] = {{"plain", true, "COM5"},
               {"longest", true, std::string(259, 'a')},
               {"toolong", false, ""},
               {"fills", false, ""},
               {"almost", true, std::string(259, 'd')},
               {"early", true, "e"},
               {"multi", true, "first"},
               {"bare", true, "AB"},
               {"empty", true, ""},
               {"missing", false, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "stale";
    EXPECT_EQ(c.ok, ReadStringValue(key.Get(), c.name, &text));
    EXPECT_EQ(c.text, text);
  }
}

TEST_F(RegistryReads, KeyPathsLongerThanTheirBufferAreNotOpened) {
  // 259 characters and the zero; each name stays within the registry's own limit.
  std::string fits = "P\\" + std::string(128, 'x') + "\\" + std::string(128, 'x');
  std::string longer = fits + "y";
  Put(fits);
  Put(longer);
  ScopedKey key;
  EXPECT_TRUE(OpenKeyForReading(fits, &key));
  EXPECT_FALSE(OpenKeyForReading(longer, &key));
  EXPECT_FALSE(key.IsValid());
}

}  // namespace
}  // namespace qnvpd
