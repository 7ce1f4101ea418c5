// The working folder of a run: the product GUID under the user's temporary folder.
//
// The package runs elevated and writes and starts programs there, in a folder
// whose parent others can write to. So nothing found at the root's place is
// trusted or followed, the root is created private, and it is held open for the
// whole run so that nobody can swap it.
#pragma once

#include <windows.h>

#include <string>

#include "held_folder.h"
#include "private_security.h"
#include "run_log.h"
#include "scoped.h"

namespace qnvpd {

// True for "X:\..." and "\\server\share\..." texts that end in a backslash.
bool IsAbsoluteFolder(const std::wstring& text);

// The base folder from the three platform texts: the temporary folder as given,
// or, when it equals the Windows folder exactly, the current folder with a
// backslash added. Empty when the chosen text is not an absolute folder.
std::wstring ComposeExtractionBase(const wchar_t* tempFolder, const wchar_t* windowsFolder,
                                   const wchar_t* currentFolder);

// The ExtractionRoot from a base folder and the product GUID: base, GUID, "\".
// Empty unless the base is an absolute folder and the GUID a plain, non-empty
// name: anything else could make the root the temporary folder itself or a
// folder relative to wherever the package was started.
std::wstring ComposeExtractionRoot(const std::wstring& base, const std::wstring& productCode);

// Whether a base folder text names a network location ("\\server\share\..."
// and the "\\?\" and "\\.\" forms): its access lists, if any, are kept by
// another machine, which may let others in.
bool IsNetworkFolderText(const std::wstring& base);

// What stands at a path, found without following it.
struct RootPlace {
  enum Kind { Nothing, Link, File, Folder, Unknown };
  Kind kind = Nothing;
  bool isPrivate = false;  // a Folder whose descriptor IsPrivateDescriptor accepts
};

// What the working folder's preparation asks of the system; a seam so tests
// can present what the system under test cannot (links on Windows, stored
// descriptors, volumes without access lists, a temporary-folder path that
// does not fit).
struct RootPlaceQuery {
  RootPlace (*inspect)(const std::wstring& place);  // place: no trailing backslash
  DWORD (*tempPath)(DWORD capacity, wchar_t* buffer);  // as GetTempPathW
  FolderVolume (*volume)(HANDLE folder);               // a folder opened by handle
};
const RootPlaceQuery& SystemRootPlaceQuery();

// The base folder from the temporary-folder query (GetTempPath2W where the
// system has it: for SYSTEM it gives a folder only administrators can write),
// GetWindowsDirectoryW and GetCurrentDirectoryW (260-character buffers); empty
// when a query fails or does not fit.
std::wstring GetExtractionBase(const RootPlaceQuery& query = SystemRootPlaceQuery());

enum class StaleRootAction {
  Create,     // nothing there: create the root
  RemoveOurs, // only administrators could have written it: rename it aside, then delete it
  SetAside,   // a link, a file, someone else's folder: rename it aside and leave it
};
StaleRootAction DecideStaleRoot(const RootPlace& place);

// The ExtractionRoot of this run, held open (without FILE_SHARE_DELETE) from its
// creation until it is removed, so that it cannot be renamed or replaced
// meanwhile. Going out of scope ends the hold and leaves the tree in place.
class PreparedRoot {
 public:
  // What it finds, sets aside, creates and removes goes to `log`.
  explicit PreparedRoot(const RunLog& log = OffRunLog()) : log_(log) {}
  PreparedRoot(const PreparedRoot&) = delete;
  PreparedRoot& operator=(const PreparedRoot&) = delete;

  // Composes the root (the product GUID read in the string-table language of
  // userLanguage), renames aside whatever stands at its place (deleting it
  // only when it is a folder no one but administrators could have written to),
  // creates it afresh with PrivateFolderSecurity and holds it. Where what
  // stands there cannot be renamed, or the place keeps being taken, the root
  // is a new sibling "<GUID>.<unique>\" instead, and the squatter is left
  // alone. False, with nothing written and nothing deleted, when the temporary
  // folder is unusable or on a network, the root would not be
  // <absolute base><GUID>\, its volume keeps no access lists (so the private
  // descriptor would not take effect) or no private folder of this run's own
  // could be created.
  bool Prepare(LANGID userLanguage, const RootPlaceQuery& query = SystemRootPlaceQuery());

  // The root, ending in a backslash; empty when not prepared.
  const std::wstring& Path() const { return path_; }

  // Deletes everything below the root while holding it, then ends the hold and
  // deletes the root through a handle on it taken at its creation: it is never
  // looked up again by path. What cannot be deleted stays.
  void Remove();

 private:
  const RunLog& log_;
  std::wstring path_;
  ScopedFile hold_;
  ScopedHandle anchor_;  // the same folder, attribute access only, for its deletion
};

}  // namespace qnvpd
