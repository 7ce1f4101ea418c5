#include "payload/payload_manifest.h"

namespace qnvpd {

// Parents come before their children, so creating the folders in this order
// never needs a parent that does not exist yet.
const PayloadFolderRow kPayloadFolders[] = {
    {PayloadFolder::Qnusb, PayloadFolder::Root, L"qnusb"},
    {PayloadFolder::Qnusb64, PayloadFolder::Qnusb, L"\\QNUSB64"},
    {PayloadFolder::QnusbXp, PayloadFolder::Qnusb, L"\\QNUSBXP"},
    {PayloadFolder::Qncomusb, PayloadFolder::Root, L"qncomusb"},
    {PayloadFolder::QncomusbX64, PayloadFolder::Qncomusb, L"\\x64"},
    {PayloadFolder::QncomusbX86, PayloadFolder::Qncomusb, L"\\x86"},
    {PayloadFolder::Manual, PayloadFolder::Root, L"manual"},
    {PayloadFolder::ManualEn, PayloadFolder::Manual, L"\\EN"},
    {PayloadFolder::ManualJa, PayloadFolder::Manual, L"\\JA"},
    {PayloadFolder::ManualSc, PayloadFolder::Manual, L"\\SC"},
    {PayloadFolder::ManualTc, PayloadFolder::Manual, L"\\TC"},
};

// Both tables come from the same lines the build turns into resources. An array
// defined with fewer rows than declared would be padded silently, so the rows
// are counted as well.
constexpr int kInstallRows = 0
#define PAYLOAD_FILE(...) +1
#define REMOVAL_FILE(...)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
    ;
constexpr int kRemovalRows = 0
#define PAYLOAD_FILE(...)
#define REMOVAL_FILE(...) +1
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
    ;
static_assert(kInstallRows == sizeof kPayloadManifest / sizeof kPayloadManifest[0],
              "payload_manifest.def must list every file of the install run");
static_assert(kRemovalRows == sizeof kRemovalKit / sizeof kRemovalKit[0],
              "payload_manifest.def must list every file of the removal kit");

const PayloadFileRow kPayloadManifest[] = {
#define PAYLOAD_FILE(id, folder, nameId, sourceFolder, fileName) \
  {id, PayloadFolder::folder, nameId, L"" fileName},
#define REMOVAL_FILE(id, nameId, fileName)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
};

const PayloadFileRow kRemovalKit[] = {
#define PAYLOAD_FILE(id, folder, nameId, sourceFolder, fileName)
#define REMOVAL_FILE(id, nameId, fileName) {id, PayloadFolder::Root, nameId, L"" fileName},
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
};

std::wstring PayloadFolderPath(const std::wstring& extractionRoot, PayloadFolder folder) {
  if (folder == PayloadFolder::Root) return extractionRoot;
  const PayloadFolderRow& row = kPayloadFolders[static_cast<int>(folder)];
  return PayloadFolderPath(extractionRoot, row.parent) + row.literal;
}

}  // namespace qnvpd
