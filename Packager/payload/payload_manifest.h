// The folder tree and the table of carried files (see payload_manifest.def).
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The eleven folders of the install run, in the order they are created, and the
// extraction root itself.
enum class PayloadFolder : int {
  Root = -1,
  Qnusb = 0,
  Qnusb64,
  QnusbXp,
  Qncomusb,
  QncomusbX64,
  QncomusbX86,
  Manual,
  ManualEn,
  ManualJa,
  ManualSc,
  ManualTc,
};

struct PayloadFolderRow {
  PayloadFolder folder;
  PayloadFolder parent;
  const wchar_t* literal;  // appended to the parent's text as it stands
};

struct PayloadFileRow {
  WORD resourceId;
  PayloadFolder folder;
  UINT nameId;             // string-table id of the file name
  const wchar_t* fileName; // the text of that string, for checks and tools
};

// How many files each run carries: the table's rows, counted. The tables'
// definitions (payload_manifest.cpp) take their entries from the same rows.
constexpr int kInstallFileCount = 0
#define PAYLOAD_FILE(...) +1
#define REMOVAL_FILE(...)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
    ;
constexpr int kRemovalFileCount = 0
#define PAYLOAD_FILE(...)
#define REMOVAL_FILE(...) +1
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
    ;

extern const PayloadFolderRow kPayloadFolders[11];
extern const PayloadFileRow kPayloadManifest[kInstallFileCount];
extern const PayloadFileRow kRemovalKit[kRemovalFileCount];

// String ids of the names the program looks up by themselves.
constexpr UINT kSetupNameId = 114;          // "setup.exe"
constexpr UINT kProductCodeId = 123;        // the product GUID, the root's name
constexpr UINT kRemovalSetup32NameId = 155; // "KPESetup32.exe"
constexpr UINT kRemovalSetup64NameId = 156; // "KPESetup64.exe"
constexpr UINT kRemovalLibraryNameId = 157; // "QNCOMUSBCLN.dll"

// The path of a folder of the tree: the extraction root (which ends in a
// backslash) for Root, else the root followed by the folder's literals, without
// a trailing backslash.
std::wstring PayloadFolderPath(const std::wstring& extractionRoot, PayloadFolder folder);

}  // namespace qnvpd
