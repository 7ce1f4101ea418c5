// Reading the security descriptors the file system stores, for the tests of the
// working folder's private security.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qnvpd_test {

// The SID of a well-known group or account.
std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type);

// The DACL of a descriptor: whether it is protected, and its entries.
struct DaclSummary {
  explicit DaclSummary(PSECURITY_DESCRIPTOR descriptor);
  bool Grants(const std::vector<BYTE>& sid) const;

  bool isProtected = false;
  std::vector<ACE_HEADER> aces;
  std::vector<ACCESS_MASK> masks;  // of the allowed entries
  std::vector<std::vector<BYTE>> sids;
};

// The descriptor stored for a path, as the platform reports it.
class StoredDescriptor {
 public:
  explicit StoredDescriptor(const std::wstring& path);
  ~StoredDescriptor();
  StoredDescriptor(const StoredDescriptor&) = delete;
  StoredDescriptor& operator=(const StoredDescriptor&) = delete;
  DWORD Error() const { return error_; }
  DaclSummary Summary() const { return DaclSummary(descriptor_); }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// Expects a protected DACL granting inheritable full access to exactly
// Administrators and SYSTEM.
void ExpectPrivate(const DaclSummary& dacl);

// Whether the file system under `scratch` keeps the descriptor a folder is
// created with (Wine builds without extended-attribute support make one up
// from the Unix mode instead).
bool FileSystemKeepsDescriptors(const std::wstring& scratch);

}  // namespace qnvpd_test
