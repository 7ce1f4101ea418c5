// The working folder of a run: the product GUID under the user's temporary
// folder (or, where that cannot hold a private folder, the machine's), into
// which the payload, the removal kit and PORTS.dat are written and from which
// the child program is started.
//
// The package runs elevated and writes and starts programs there, in a folder
// whose parent others can write to. So nothing found at the folder's name is
// trusted or followed (see set_aside.h), the folder is created private, and it
// and every folder above it are held open for the whole run (see held_chain.h):
// its path then keeps naming it, whatever links or folders above it do.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "bounded_text.h"
#include "folder_text.h"
#include "held_chain.h"
#include "held_folder.h"
#include "payload/cleanup.h"
#include "payload/set_aside.h"
#include "run_log.h"
#include "scoped.h"

namespace qnvpd {

// True for "X:\..." and "\\server\share\..." texts that end in a backslash.
bool IsAbsoluteFolder(const std::wstring& text);

// The base folder from the three platform texts: the temporary folder as given,
// or, when it equals the Windows folder exactly, the current folder with a
// backslash added. Empty when the chosen text is not an absolute folder.
std::wstring ComposeWorkingFolderBase(const wchar_t* tempFolder, const wchar_t* windowsFolder,
                                      const wchar_t* currentFolder);

// The working folder's text from a base folder and the product GUID: base,
// GUID, "\". Empty unless the base is an absolute folder and the GUID a plain,
// non-empty name: anything else could make the working folder the temporary
// folder itself or a folder relative to wherever the package was started.
std::wstring ComposeWorkingFolder(const std::wstring& base, const std::wstring& productCode);

// Whether a base folder text names a network location ("\\server\share\..."
// and the "\\?\" and "\\.\" forms): its access lists, if any, are kept by
// another machine, which may let others in.
bool IsNetworkFolderText(const std::wstring& base);

// The machine's temporary folders under the Windows folder, in the order they
// are tried: "<windows>\SystemTemp\" (where the system has it, only SYSTEM may
// use it), then "<windows>\Temp\". Empty for a Windows folder that is not an
// absolute path.
std::vector<std::wstring> MachineTemporaryFolders(const std::wstring& windowsFolder);

// What the working folder's creation asks of the system; a seam so tests can
// present what the system under test cannot (links on Windows, stored
// descriptors, volumes without access lists, a system without final paths, a
// temporary-folder path that does not fit).
struct WorkingFolderQuery {
  OccupantInspection inspect;                          // the folder's name, no trailing backslash
  DWORD (*tempPath)(DWORD capacity, wchar_t* buffer);  // as GetTempPathW
  UINT(WINAPI* windowsFolder)(LPWSTR buffer, UINT capacity);  // GetSystemWindowsDirectoryW
  FolderVolume (*volume)(HANDLE folder, const std::wstring& path);  // a folder opened by handle
  FinalPathQuery finalPath;                            // null where the system lacks it
};
const WorkingFolderQuery& SystemWorkingFolderQuery();

// The base folder from the temporary-folder query (GetTempPath2W where the
// system has it: for SYSTEM it gives a folder only SYSTEM can use),
// GetWindowsDirectoryW and GetCurrentDirectoryW (260-character buffers); empty
// when a query fails or does not fit.
std::wstring GetWorkingFolderBase(const WorkingFolderQuery& query = SystemWorkingFolderQuery());

// How long the removal keeps trying entries someone else holds for a moment
// (a virus scanner, an indexer, a helper the installer left running).
constexpr DWORD kRemovalRetryMs = 2000;

// What the removal does with what is still there when it stops trying; a seam
// so tests need not touch the machine's restart list.
struct WorkingFolderRemoval {
  DWORD retryMs;
  // Registers `path` for deletion when Windows next starts; false when refused.
  bool (*deleteAtRestart)(const std::wstring& path);
};
const WorkingFolderRemoval& SystemWorkingFolderRemoval();

class PrivacyRule;  // whether a place must keep access lists (working_folder.cpp)

// The working folder of this run, held open (without FILE_SHARE_DELETE) from
// its creation until it is removed, together with every folder above it, so
// that neither it nor its path can be renamed or replaced meanwhile. Going out
// of scope ends the holds and leaves the tree in place.
class WorkingFolder {
 public:
  WorkingFolder() = default;
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

  // Chooses the place and creates the folder there: the product GUID (read in
  // the string-table language of userLanguage) under the user's temporary
  // folder; where that cannot hold a private folder (a share, a remote device,
  // a volume without persistent access lists, a path that cannot be held) and
  // the Windows folder's volume keeps access lists, under the machine's
  // temporary folder instead; where the Windows folder's own volume keeps none
  // (a FAT system drive), under the user's temporary folder as it is, since no
  // folder on that machine can be kept private. A link on the way is followed
  // once, now. Renames aside whatever stands at the folder's name (deleting it
  // only when it is a folder no one but administrators could have written to),
  // creates it afresh with PrivateFolderSecurity and holds it. Where what
  // stands there cannot be renamed, or the name keeps being taken, the folder
  // is a new sibling "<GUID>.<random>\" instead, and the squatter is left
  // alone. False, with nothing written and nothing deleted, when no place can
  // be had. Which place was used and why, and every failure, go to `report`.
  bool Create(LANGID userLanguage, StepReport* report,
              const WorkingFolderQuery& query = SystemWorkingFolderQuery());

  // The folder's text, ending in one backslash; empty when not created. Every
  // folder on it is held: it names the created folder until Remove.
  const std::wstring& Path() const { return path_; }

  // The path of `name` below the folder (see JoinBelow), in a buffer of the
  // system's path limit unless the caller's buffer says otherwise: what the
  // package starts or loads must fit kPathCapacity. False, and *path
  // untouched, when it would not fit or the folder was not created.
  template <size_t Capacity>
  bool Join(const std::wstring& name, BoundedText<Capacity>* path) const {
    return JoinBelow(path_, name, path);
  }

  // Deletes everything below the folder, each entry through its folder's
  // handle, then the folder itself through a handle taken at its creation:
  // nothing is looked up again by path. Entries someone else holds are tried
  // again for `removal.retryMs`; everything that can go goes. Whatever is
  // still there then is registered for deletion at the next restart. Then the
  // holds end. Returns what was left and what was registered.
  StepReport Remove(const WorkingFolderRemoval& removal = SystemWorkingFolderRemoval());

 private:
  bool CreateIn(const std::wstring& base, PrivacyRule* privacy, const std::wstring& productCode,
                const WorkingFolderQuery& query, StepReport* report, std::wstring* why);

  HeldChain chain_;       // every folder above it
  std::wstring path_;
  ScopedHandle hold_;     // the folder itself, without delete sharing
  ScopedHandle anchor_;   // the same folder, attribute access only, for its deletion
};

}  // namespace qnvpd
