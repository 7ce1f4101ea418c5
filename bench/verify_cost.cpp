// Times the package's payload check on its own: the resources of an install
// run checked against the package's CRC-32 table, as the package does before
// each write, many times over. Prints "<first pass ms> <median pass ms>
// <passes> <bytes per pass>".
//
//   verify_cost.exe <package> [passes]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <vector>

#include "payload/payload_checksums.h"
#include "payload/payload_manifest.h"

namespace {

bool VerifyRows(HMODULE package, const qnvpd::PayloadFileRow* rows, size_t count,
                unsigned long long* bytes) {
  for (size_t i = 0; i < count; ++i) {
    const WORD id = rows[i].resourceId;
    HRSRC found = FindResourceW(package, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (found == nullptr) return false;
    const DWORD size = SizeofResource(package, found);
    const void* data = LockResource(LoadResource(package, found));
    if (qnvpd::VerifyPayloadResource(package, id, data, size) != ERROR_SUCCESS) return false;
    *bytes += size;
  }
  return true;
}

// One pass over the install payload (the removal kit is checked only in the
// removal run); false on any mismatch.
bool VerifyAll(HMODULE package, unsigned long long* bytes) {
  *bytes = 0;
  return VerifyRows(package, qnvpd::kPayloadManifest, std::size(qnvpd::kPayloadManifest), bytes);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const int passes = argc > 2 ? std::max(1, _wtoi(argv[2])) : 21;
  // Mapped as an image, the way the running package sees its own resources.
  HMODULE package = LoadLibraryExW(argv[1], nullptr,
                                   LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
  if (package == nullptr) return 3;
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  std::vector<double> ms;
  unsigned long long bytes = 0;
  for (int i = 0; i <= passes; ++i) {
    QueryPerformanceCounter(&t0);
    if (!VerifyAll(package, &bytes)) return 4;
    QueryPerformanceCounter(&t1);
    ms.push_back(1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / freq.QuadPart);
  }
  // The first pass also pages the mapping in, which the package's write needs anyway.
  const double first = ms.front();
  ms.erase(ms.begin());
  std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
  std::printf("%.3f %.3f %d %llu\n", first, ms[ms.size() / 2], passes, bytes);
  return 0;
}
