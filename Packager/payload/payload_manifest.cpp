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

// Both tables come from the same lines the build turns into resources.
const PayloadFileRow kPayloadManifest[] = {
#define PAYLOAD_FILE(id, folder, nameId, sourceFolder, fileName, productBytes) \
  {id, PayloadFolder::folder, nameId, L"" fileName},
#define REMOVAL_FILE(id, nameId, fileName, productBytes)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
};

const PayloadFileRow kRemovalKit[] = {
#define PAYLOAD_FILE(id, folder, nameId, sourceFolder, fileName, productBytes)
#define REMOVAL_FILE(id, nameId, fileName, productBytes) \
  {id, PayloadFolder::Root, nameId, L"" fileName},
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
