// The working folder of a run: the product GUID under the user's temporary
// folder, into which the payload, the removal kit and PORTS.dat are written and
// from which the child program is started.
//
// The package runs elevated and writes and starts programs there, in a folder
// whose parent others can write to. So nothing found at the folder's name is
// trusted or followed (see set_aside.h), the folder is created private, and it
// is held open for the whole run so that nobody can swap it.
#pragma once

#include <windows.h>

#include <string>

#include "bounded_text.h"
#include "folder_text.h"
#include "held_folder.h"
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

// What the working folder's creation asks of the system; a seam so tests can
// present what the system under test cannot (links on Windows, stored
// descriptors, volumes without access lists, a temporary-folder path that
// does not fit).
struct WorkingFolderQuery {
  OccupantInspection inspect;                          // the folder's name, no trailing backslash
  DWORD (*tempPath)(DWORD capacity, wchar_t* buffer);  // as GetTempPathW
  FolderVolume (*volume)(HANDLE folder);               // a folder opened by handle
};
const WorkingFolderQuery& SystemWorkingFolderQuery();

// The base folder from the temporary-folder query (GetTempPath2W where the
// system has it: for SYSTEM it gives a folder only administrators can write),
// GetWindowsDirectoryW and GetCurrentDirectoryW (260-character buffers); empty
// when a query fails or does not fit.
std::wstring GetWorkingFolderBase(const WorkingFolderQuery& query = SystemWorkingFolderQuery());

// The working folder of this run, held open (without FILE_SHARE_DELETE) from
// its creation until it is removed, so that it cannot be renamed or replaced
// meanwhile. Going out of scope ends the hold and leaves the tree in place.
class WorkingFolder {
 public:
  // What it finds, sets aside, creates and removes goes to `log`.
  explicit WorkingFolder(const RunLog& log = OffRunLog()) : log_(log) {}
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

  // Composes the folder (the product GUID read in the string-table language of
  // userLanguage), renames aside whatever stands at its name (deleting it only
  // when it is a folder no one but administrators could have written to),
  // creates it afresh with PrivateFolderSecurity and holds it. Where what
  // stands there cannot be renamed, or the name keeps being taken, the folder
  // is a new sibling "<GUID>.<unique>\" instead, and the squatter is left
  // alone. False, with nothing written and nothing deleted, when the temporary
  // folder is unusable or on a network, the folder would not be
  // <absolute base><GUID>\, its volume keeps no access lists (so the private
  // descriptor would not take effect) or no private folder of this run's own
  // could be created.
  bool Create(LANGID userLanguage, const WorkingFolderQuery& query = SystemWorkingFolderQuery());

  // The folder's text, ending in one backslash; empty when not created.
  const std::wstring& Path() const { return path_; }

  // The path of `name` below the folder (see JoinBelow), in a buffer of the
  // system's path limit unless the caller's buffer says otherwise: what the
  // package starts or loads must fit kPathCapacity. False, and *path
  // untouched, when it would not fit or the folder was not created.
  template <size_t Capacity>
  bool Join(const std::wstring& name, BoundedText<Capacity>* path) const {
    return JoinBelow(path_, name, path);
  }

  // Deletes everything below the folder while holding it, then ends the hold
  // and deletes the folder through a handle on it taken at its creation: it is
  // never looked up again by path. What cannot be deleted stays.
  void Remove();

 private:
  const RunLog& log_;
  std::wstring path_;
  ScopedFile hold_;
  ScopedHandle anchor_;  // the same folder, attribute access only, for its deletion
};

}  // namespace qnvpd
