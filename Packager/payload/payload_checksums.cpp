#include "payload/payload_checksums.h"

#include <zlib.h>

#include <cstring>

namespace qnvpd {

namespace {

constexpr char kMagic[4] = {'Q', 'C', 'R', 'C'};
constexpr size_t kHeaderSize = 8;
constexpr size_t kEntrySize = 12;

DWORD ReadLe32(const unsigned char* bytes) {
  return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
         static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

}  // namespace

ChecksumLookup FindPayloadChecksum(const void* table, size_t tableSize, WORD id,
                                   PayloadChecksum* entry) {
  const auto* bytes = static_cast<const unsigned char*>(table);
  if (bytes == nullptr || tableSize < kHeaderSize ||
      std::memcmp(bytes, kMagic, sizeof kMagic) != 0) {
    return ChecksumLookup::Malformed;
  }
  const DWORD count = ReadLe32(bytes + 4);
  // Compared by division so a huge count cannot wrap the product.
  if ((tableSize - kHeaderSize) % kEntrySize != 0 ||
      (tableSize - kHeaderSize) / kEntrySize != count) {
    return ChecksumLookup::Malformed;
  }
  for (DWORD i = 0; i < count; ++i) {
    const unsigned char* row = bytes + kHeaderSize + i * kEntrySize;
    if (ReadLe32(row) != id) continue;
    if (entry != nullptr) *entry = {ReadLe32(row), ReadLe32(row + 4), ReadLe32(row + 8)};
    return ChecksumLookup::Found;
  }
  return ChecksumLookup::NoEntry;
}

DWORD PayloadCrc32(const void* data, size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto* bytes = static_cast<const Bytef*>(data);
  // zlib counts in uInt; feed it in slices so no size is cut short.
  constexpr size_t kSlice = 0x40000000;
  while (size > 0) {
    const size_t slice = size < kSlice ? size : kSlice;
    crc = crc32(crc, bytes, static_cast<uInt>(slice));
    bytes += slice;
    size -= slice;
  }
  return static_cast<DWORD>(crc);
}

ChecksumLookup LookUpPayloadChecksum(HMODULE module, WORD id, PayloadChecksum* entry) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kChecksumTableId), kChecksumTableType);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const void* table = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (table == nullptr) return ChecksumLookup::Malformed;
  return FindPayloadChecksum(table, SizeofResource(module, found), id, entry);
}

DWORD VerifyPayloadResource(HMODULE module, WORD id, const void* data, DWORD size) {
  PayloadChecksum entry = {};
  if (LookUpPayloadChecksum(module, id, &entry) != ChecksumLookup::Found) {
    return ERROR_INVALID_DATA;
  }
  if (entry.size != size || entry.crc != PayloadCrc32(data, size)) return ERROR_CRC;
  return ERROR_SUCCESS;
}

}  // namespace qnvpd
