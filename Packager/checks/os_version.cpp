#include "checks/os_version.h"

namespace qnvpd {

namespace {

// One version query on a fresh record. The major version is preset to 0 so that
// a query that fails (and writes nothing) reads as an unsupported system; only
// the major and minor numbers are looked at afterwards.
OSVERSIONINFOW QueryVersion(const VersionQuery& query) {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  info.dwMajorVersion = 0;
  query.getVersion(&info);  // a failure leaves the preset major version in place
  return info;
}

static_assert(sizeof(OSVERSIONINFOW) == 276, "the plain version record, not the EX one");

}  // namespace

const VersionQuery& SystemVersionQuery() {
  static const VersionQuery query = {GetVersionExW};
  return query;
}

int IsWindows2000(const VersionQuery& query) {
  OSVERSIONINFOW info = QueryVersion(query);
  return info.dwMajorVersion == 5 && info.dwMinorVersion == 0 ? 1 : 0;
}

int IsOsSupported(int kmFlag, const VersionQuery& query) {
  // Windows 2000 is accepted only when the "-KM" switch asks for it.
  if (IsWindows2000(query) == 1 && kmFlag == 0) return 0;
  OSVERSIONINFOW info = QueryVersion(query);
  return info.dwMajorVersion >= 5u ? 1 : 0;
}

}  // namespace qnvpd
