// Writing one carried resource to a file.
#pragma once

#include <windows.h>

#include <string>

#include "payload/payload_checksums.h"

namespace qnvpd {

// Which step of ExtractResource failed, for callers that treat a resource left
// out of the build differently from a file that could not be written.
enum class ExtractStep {
  Done,              // the whole file was written
  Resource,          // the build left the resource out (not in its table); nothing touched
  ListedButMissing,  // the table lists it, but it is missing or unreadable; nothing touched
  Checksum,          // the resource does not match the build's table; nothing touched
  Create,            // the file could not be created
  Write,             // the write failed or fell short; the partial file was deleted
};

// How a resource that cannot be found or read is classed, from what the build's
// table says of it. The table lists exactly what the build carried, so only a
// resource it does not list was left out by the build (Resource); one it lists
// was lost after the build, and without a sound table nothing vouches for the
// package at all (ListedButMissing).
ExtractStep MissingResourceStep(ChecksumLookup listing);

// Writes RCDATA resource `id` of the running program to the file at `path`
// (joined below the working folder by the caller). 0 when the
// whole file was written; otherwise the platform's error code of the failing
// step, and no partial file is left behind (a short write counts as a failure,
// ERROR_DISK_FULL when the platform reported none). Before anything is written
// the resource is checked against the build's CRC-32 table: a mismatch gives
// ERROR_CRC, a missing or unusable table or entry ERROR_INVALID_DATA. A
// resource that cannot be found or read gives the platform's error, and the
// step tells whether the build left it out or the package lost it after the
// build (MissingResourceStep). `step`, when given, receives the step that
// decided the result, and `bytes` the size of the file written.
DWORD ExtractResource(const std::wstring& path, WORD id, ExtractStep* step = nullptr,
                      DWORD* bytes = nullptr);

}  // namespace qnvpd
