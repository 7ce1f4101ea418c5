// How a folder's path is written and how names below it are joined. A folder's
// text always ends in one backslash, and a name below it is appended as it is:
// no join doubles a backslash or drops one, and none cuts a path short.
#pragma once

#include <cstddef>
#include <string>

#include "bounded_text.h"

namespace qnvpd {

// Room for a path in a tree the package writes or removes: the longest base the
// temporary-folder query gives (259 characters), the working folder's name and
// the deepest payload file need far less. Whether a file beyond kPathCapacity
// can be written is the system's to decide (it can where long paths are
// enabled); only what the package starts or loads must fit kPathCapacity.
constexpr size_t kTreePathCapacity = 2 * kPathCapacity + 2;

// True for a text that ends in exactly one backslash.
inline bool IsFolderText(const std::wstring& text) {
  if (text.empty() || text.back() != L'\\') return false;
  return text.size() == 1 || text[text.size() - 2] != L'\\';
}

// The folder itself, as the calls that look at, rename or create it name it:
// its text without the final backslash (with one, a file or a link standing at
// that name would not be found as itself).
inline std::wstring FolderName(const std::wstring& folder) {
  return IsFolderText(folder) ? folder.substr(0, folder.size() - 1) : folder;
}

// `folder` followed by `name`, a path below it ("setup.exe", "qnusb\QNUSB64\",
// "manual\EN\ReadMeE.txt"). False, and *path untouched, when the folder is not
// a folder text, the name is empty or begins with a backslash, or the whole
// would not fit the capacity of *path (its terminating zero included).
template <size_t Capacity>
bool JoinBelow(const std::wstring& folder, const std::wstring& name,
               BoundedText<Capacity>* path) {
  if (!IsFolderText(folder) || name.empty() || name.front() == L'\\') return false;
  BoundedText<Capacity> joined;
  if (!joined.Append(folder) || !joined.Append(name)) return false;
  *path = joined;
  return true;
}

}  // namespace qnvpd
