// The build's CRC-32 table of the carried files, and the check of a carried
// resource against it before its file is trusted.
#pragma once

#include <windows.h>

#include <cstddef>

namespace qnvpd {

// Where the build puts the table: resource 1 of this type, beside the payload.
constexpr wchar_t kChecksumTableType[] = L"PAYLOADCRC";
constexpr WORD kChecksumTableId = 1;

// The table's layout (little-endian): "QCRC", a 32-bit entry count, then per
// carried file its resource id, size and CRC-32, 32 bits each.
struct PayloadChecksum {
  DWORD resourceId;
  DWORD size;
  DWORD crc;
};

enum class ChecksumLookup {
  Found,      // *entry holds the row of the id
  NoEntry,    // the table is sound but does not list the id
  Malformed,  // wrong signature, or a length that does not match its count
};

// Looks up resource `id` in the table's bytes; never reads past tableSize.
ChecksumLookup FindPayloadChecksum(const void* table, size_t tableSize, WORD id,
                                   PayloadChecksum* entry);

// The CRC-32 (zlib's polynomial, the one the build uses) of a block of bytes.
DWORD PayloadCrc32(const void* data, size_t size);

// Looks up resource `id` in the table of `module`; a module without a table
// counts as Malformed.
ChecksumLookup LookUpPayloadChecksum(HMODULE module, WORD id, PayloadChecksum* entry);

// Checks resource `id` of `module` (its bytes as mapped) against the module's
// table. 0 when size and CRC-32 match; ERROR_CRC when they do not;
// ERROR_INVALID_DATA when the table is missing, malformed or does not list the id.
DWORD VerifyPayloadResource(HMODULE module, WORD id, const void* data, DWORD size);

}  // namespace qnvpd
