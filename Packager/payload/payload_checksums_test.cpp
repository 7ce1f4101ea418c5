#include "payload/payload_checksums.h"

#include <gtest/gtest.h>

#include <string>

namespace qnvpd {
namespace {

void AppendLe32(std::string* bytes, DWORD value) {
  for (int shift = 0; shift < 32; shift += 8) bytes->push_back(static_cast<char>(value >> shift));
}

// A table in the build's layout with rows {id, id * 10, id * 100}.
std::string Table(std::initializer_list<DWORD> ids) {
  std::string bytes = "QCRC";
  AppendLe32(&bytes, static_cast<DWORD>(ids.size()));
  for (DWORD id : ids) {
    AppendLe32(&bytes, id);
    AppendLe32(&bytes, id * 10);
    AppendLe32(&bytes, id * 100);
  }
  return bytes;
}

ChecksumLookup Find(const std::string& table, WORD id, PayloadChecksum* entry = nullptr) {
  return FindPayloadChecksum(table.data(), table.size(), id, entry);
}

TEST(PayloadChecksumTable, FindsRowsAndTellsAMissingRowFromABadTable) {
  const std::string table = Table({104, 149, 150});
  PayloadChecksum entry = {};
  ASSERT_EQ(Find(table, 149, &entry), ChecksumLookup::Found);
  EXPECT_EQ(entry.resourceId, 149u);
  EXPECT_EQ(entry.size, 1490u);
  EXPECT_EQ(entry.crc, 14900u);
  EXPECT_EQ(Find(table, 112), ChecksumLookup::NoEntry);
  EXPECT_EQ(Find(Table({}), 104), ChecksumLookup::NoEntry);
}

TEST(PayloadChecksumTable, TruncatedOrMalformedTablesAreRefused) {
  const std::string table = Table({104, 149});
  // Cut anywhere: inside the header, inside a row, or a whole row short.
  for (size_t size : {size_t{0}, size_t{3}, size_t{7}, table.size() - 1, table.size() - 12}) {
    EXPECT_EQ(FindPayloadChecksum(table.data(), size, 104, nullptr), ChecksumLookup::Malformed)
        << "cut to " << size << " bytes";
  }
  EXPECT_EQ(FindPayloadChecksum(nullptr, 0, 104, nullptr), ChecksumLookup::Malformed);
  // A module without a table vouches for nothing.
  EXPECT_EQ(LookUpPayloadChecksum(GetModuleHandleW(L"kernel32"), 104, nullptr),
            ChecksumLookup::Malformed);

  std::string wrongMagic = table;
  wrongMagic[0] = 'X';
  EXPECT_EQ(Find(wrongMagic, 104), ChecksumLookup::Malformed);

  std::string trailing = table + "!";
  EXPECT_EQ(Find(trailing, 104), ChecksumLookup::Malformed);

  // A count that claims more rows than there are, also one that would wrap a
  // 32-bit product.
  for (DWORD count : {DWORD{3}, DWORD{1}, DWORD{0x15555556}, DWORD{0xFFFFFFFF}}) {
    std::string lying = table;
    lying.replace(4, 4, std::string(reinterpret_cast<const char*>(&count), 4));
    EXPECT_EQ(Find(lying, 104), ChecksumLookup::Malformed) << "count " << count;
  }
}

TEST(PayloadChecksumTable, CrcIsZlibsCrc32) {
  // The standard check value, the one Python's zlib.crc32 gives the build.
  EXPECT_EQ(PayloadCrc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(PayloadCrc32("", 0), 0u);
}

}  // namespace
}  // namespace qnvpd
