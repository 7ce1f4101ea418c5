// The install run's files as the payload table lists them, for the tests that
// check what a run wrote, left or logged: a row added to the table is expected
// everywhere without another edit.
#pragma once

#include <algorithm>
#include <string>

#include "test_support.h"

namespace qnvpd_test {

struct CarriedFile {
  const char* folder;  // below the extraction root, "/"-separated
  const char* name;
};

inline constexpr CarriedFile kCarried[] = {
#define PAYLOAD_FILE(id, folderEnum, nameId, folder, name, productBytes) {folder, name},
#define REMOVAL_FILE(id, nameId, name, productBytes)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
};

// The file's path below the extraction root, with backslashes.
inline std::wstring RelativePath(const CarriedFile& file) {
  std::wstring path = Widen(file.folder);
  if (!path.empty()) path += L"/";
  path += Widen(file.name);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

}  // namespace qnvpd_test
