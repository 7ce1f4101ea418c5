#include "payload/extract_resource.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace qnvpd {
namespace {

using qnvpd_test::Exists;
using qnvpd_test::ReadFileBytes;
using qnvpd_test::ScratchFolder;
using qnvpd_test::WriteFileBytes;

// Resources of the unit-test program (tests/unit_resources.rc).
constexpr WORD kPatternId = 4101;
constexpr size_t kPatternSize = 10000;
constexpr WORD kAbsentId = 4199;

std::string Pattern() {
  std::string bytes(kPatternSize, '\0');
  for (size_t i = 0; i < kPatternSize; ++i) bytes[i] = static_cast<char>((i * 37 + i / 256) & 0xFF);
  return bytes;
}

TEST(ExtractResourceTest, WritesTheResourceByteForByte) {
  ScratchFolder scratch;
  ExtractStep step = ExtractStep::Write;
  EXPECT_EQ(ExtractResource(scratch / L"pattern.bin", kPatternId, &step), 0u);
  EXPECT_EQ(step, ExtractStep::Done);
  EXPECT_EQ(ReadFileBytes(scratch / L"pattern.bin"), Pattern());
}

TEST(ExtractResourceTest, TruncatesAndOverwritesAnExistingFile) {
  ScratchFolder scratch;
  WriteFileBytes(scratch / L"pattern.bin", std::string(kPatternSize + 5000, 'z'));
  EXPECT_EQ(ExtractResource(scratch / L"pattern.bin", kPatternId), 0u);
  EXPECT_EQ(ReadFileBytes(scratch / L"pattern.bin"), Pattern());
}

TEST(ExtractResourceTest, MissingResourceTouchesNothing) {
  ScratchFolder scratch;
  // Left out by the build (not in the table), or lost after it (4104 is listed).
  const struct { WORD id; ExtractStep step; } cases[] = {
      {kAbsentId, ExtractStep::Resource}, {4104, ExtractStep::ListedButMissing}};
  for (const auto& c : cases) {
    ExtractStep step = ExtractStep::Done;
    EXPECT_EQ(ExtractResource(scratch / L"absent.bin", c.id, &step),
              static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND)) << c.id;
    EXPECT_EQ(step, c.step) << c.id;
    EXPECT_FALSE(Exists(scratch / L"absent.bin")) << c.id;
  }
  // Without a sound table nothing shows the build left it out.
  EXPECT_EQ(MissingResourceStep(ChecksumLookup::Malformed), ExtractStep::ListedButMissing);
}

TEST(ExtractResourceTest, ResourceThatDoesNotMatchTheTableIsNeverWritten) {
  ScratchFolder scratch;
  // 4102: the pattern, listed with one bit changed; 4103: not listed.
  const struct { WORD id; DWORD error; } cases[] = {{4102, ERROR_CRC}, {4103, ERROR_INVALID_DATA}};
  for (const auto& c : cases) {
    ExtractStep step = ExtractStep::Done;
    EXPECT_EQ(ExtractResource(scratch / L"damaged.bin", c.id, &step), c.error) << c.id;
    EXPECT_EQ(step, ExtractStep::Checksum) << c.id;
    EXPECT_FALSE(Exists(scratch / L"damaged.bin")) << c.id;
  }
}

TEST(ExtractResourceTest, FileThatCannotBeCreatedGivesThePlatformError) {
  ScratchFolder scratch;
  ExtractStep step = ExtractStep::Done;
  EXPECT_EQ(ExtractResource(scratch / L"no-such-folder\\p.bin", kPatternId, &step),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(step, ExtractStep::Create);
}

// A small tmpfs mounted as a drive (tests/payload_diskfull_fixture.sh); the
// test is skipped where it could not be mounted.
class ExtractResourceDiskFull : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = qnvpd_test::FullDrive(L"QNVPD_DISKFULL_DRIVE");
    if (root_.empty()) GTEST_SKIP() << "no disk-full drive (QNVPD_DISKFULL_DRIVE) mounted";
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceW(root_.c_str(), &sectorsPerCluster, &bytesPerSector,
                                  &freeClusters, &clusters));
    cluster_ = sectorsPerCluster * bytesPerSector;
    ASSERT_LT(cluster_, kPatternSize) << "the test resource must exceed one cluster";
    folder_ = root_ + L"qnvpd-payload-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    if (!folder_.empty()) qnvpd_test::DeleteTree(folder_);
  }
  ULONGLONG FreeBytes() const {
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExW(root_.c_str(), &free, nullptr, nullptr);
    return free.QuadPart;
  }
  // Fills the drive until only `leave` bytes are free.
  void FillLeaving(ULONGLONG leave, const wchar_t* name) {
    const ULONGLONG free = FreeBytes();
    ASSERT_GT(free, leave);
    WriteFileBytes(folder_ + L"\\" + name, std::string(static_cast<size_t>(free - leave), 'f'));
    ASSERT_EQ(FreeBytes(), leave);
  }

  std::wstring root_;
  std::wstring folder_;
  DWORD cluster_ = 0;
};

// The write that runs out of space reports success with fewer bytes; the file
// must not stay behind as if it were complete.
TEST_F(ExtractResourceDiskFull, ShortWriteIsAFailureAndLeavesNoFile) {
  FillLeaving(cluster_, L"filler1");
  ExtractStep step = ExtractStep::Done;
  EXPECT_EQ(ExtractResource(folder_ + L"\\pattern.bin", kPatternId, &step),
            static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(step, ExtractStep::Write);
  EXPECT_FALSE(Exists(folder_ + L"\\pattern.bin"));

  // With no space at all the write itself fails; again nothing is left.
  FillLeaving(0, L"filler2");
  step = ExtractStep::Done;
  EXPECT_EQ(ExtractResource(folder_ + L"\\pattern.bin", kPatternId, &step),
            static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(step, ExtractStep::Write);
  EXPECT_FALSE(Exists(folder_ + L"\\pattern.bin"));
}

}  // namespace
}  // namespace qnvpd
