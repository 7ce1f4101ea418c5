#include "payload/extract_resource.h"

#include "last_error.h"
#include "payload/payload_checksums.h"
#include "scoped.h"

namespace qnvpd {

namespace {

DWORD Fail(ExtractStep* step, ExtractStep failed, DWORD error) {
  if (step != nullptr) *step = failed;
  return error;
}

DWORD FailMissing(ExtractStep* step, WORD id, DWORD error) {
  return Fail(step, MissingResourceStep(LookUpPayloadChecksum(nullptr, id, nullptr)), error);
}

}  // namespace

ExtractStep MissingResourceStep(ChecksumLookup listing) {
  return listing == ChecksumLookup::NoEntry ? ExtractStep::Resource
                                            : ExtractStep::ListedButMissing;
}

DWORD ExtractResource(const std::wstring& path, WORD id, ExtractStep* step, DWORD* bytes) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (found == nullptr) {
    return FailMissing(step, id, LastErrorOr(ERROR_RESOURCE_NAME_NOT_FOUND));
  }
  const DWORD size = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) {
    return FailMissing(step, id, LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND));
  }
  const void* data = LockResource(loaded);
  if (data == nullptr) {
    return FailMissing(step, id, LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND));
  }
  // A package damaged after the build must not hand damaged files to the
  // installer; checked before the write, so a bad file never reaches the disk.
  const DWORD verified = VerifyPayloadResource(nullptr, id, data, size);
  if (verified != ERROR_SUCCESS) return Fail(step, ExtractStep::Checksum, verified);

  ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return Fail(step, ExtractStep::Create, LastErrorOr(ERROR_OPEN_FAILED));

  // One write straight from the mapped resource: no copy of the payload in memory.
  DWORD written = 0;
  DWORD error = ERROR_SUCCESS;
  if (!WriteFile(file.Get(), data, size, &written, nullptr)) {
    error = LastErrorOr(ERROR_WRITE_FAULT);
  } else if (written != size) {
    // Some file systems report a write that ran out of space as a success.
    error = ERROR_DISK_FULL;
  }
  file.Reset();
  if (error == ERROR_SUCCESS) {
    if (step != nullptr) *step = ExtractStep::Done;
    if (bytes != nullptr) *bytes = size;
    return ERROR_SUCCESS;
  }
  // A truncated payload file must not pass for a good one.
  DeleteFileW(path.c_str());
  return Fail(step, ExtractStep::Write, error);
}

}  // namespace qnvpd
