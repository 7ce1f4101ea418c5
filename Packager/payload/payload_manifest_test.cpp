#include "payload/payload_manifest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace qnvpd {
namespace {

// A row names its folder twice: by the tree's folder, where the program writes
// the file, and by its path, where the build and the tools take it from. A row
// whose two disagree would carry a file the tools show at another place.
struct RowPlace {
  PayloadFolder folder;
  const char* path;
  const char* name;
};

const RowPlace kRows[] = {
#define PAYLOAD_FILE(id, folder, nameId, path, name, productBytes) \
  {PayloadFolder::folder, path, name},
#define REMOVAL_FILE(id, nameId, name, productBytes)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
};

TEST(PayloadTables, EachRowsFolderIsTheFolderOfItsPath) {
  for (const RowPlace& row : kRows) {
    std::wstring path = qnvpd_test::Widen(row.path);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    EXPECT_EQ(PayloadFolderPath(L"", row.folder), path) << row.name;
  }
}

}  // namespace
}  // namespace qnvpd
