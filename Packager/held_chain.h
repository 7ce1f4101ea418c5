// A folder whose path keeps naming it: every folder from its volume's root down
// to it is held open without FILE_SHARE_DELETE for as long as the chain is
// held.
//
// Why this fixes the path: renaming or deleting a folder takes DELETE access
// to it (or, for a rename, a handle on it that shares nothing the system would
// refuse), and Windows refuses DELETE access to every opener while a handle
// that does not share delete is open. A folder that is not empty cannot be
// turned into a junction or a symbolic link either. So while each folder of
// the chain is held and holds the next, the text of the chain's path reaches
// the same folders whatever anyone does meanwhile, and what the elevated run
// creates, writes, starts, loads and deletes there by path is what it created.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "held_folder.h"
#include "scoped.h"

namespace qnvpd {

class HeldChain {
 public:
  enum Outcome {
    kHeld,
    kUnreachable,  // a folder on the way could not be opened or held (Error() says why)
    kNotAFolder,   // something on the way is not a folder
    kNetwork,      // it lies on a share
    kLink,         // a link on the way that the system cannot show to be a volume's own place
  };

  HeldChain() = default;
  HeldChain(const HeldChain&) = delete;
  HeldChain& operator=(const HeldChain&) = delete;

  // Holds `folder` (an absolute folder text) and every folder above it. Where
  // the system can name a folder's final path (GetFinalPathNameByHandleW), a
  // link anywhere on `folder` is followed once, now, and the chain held is the
  // real path it leads to (Path() then differs from `folder`): afterwards the
  // link no longer matters. Where it cannot (Windows XP and Server 2003), the
  // chain is `folder` itself, and a link on it is refused. A folder where a
  // volume is mounted is accepted where the system's final path of it is its
  // own path. Anything held before is released first.
  Outcome Hold(const std::wstring& folder, FinalPathQuery finalPath);

  bool IsHeld() const { return !chain_.empty(); }
  // The held folder's text, ending in one backslash; empty when not held.
  const std::wstring& Path() const { return path_; }
  // The held folder itself, for listing and for creating below it.
  HANDLE Folder() const;
  // Where Hold stopped and the system's error there, for the log.
  const std::wstring& FailedAt() const { return failedAt_; }
  DWORD Error() const { return error_; }

  // Whether every held folder is still what it was when held (a folder, not
  // turned into a link while it was still empty), and where the system can
  // tell, whether `below` (opened inside the chain's folder) is at the path
  // Path() + `name`. Asked once the chain's folder holds `below`: from then on
  // none of them can change.
  bool Confirm(HANDLE below, const std::wstring& name) const;

  void Release();

 private:
  struct HeldLink {
    std::wstring path;   // without a trailing backslash, but for the root
    ScopedHandle self;     // opened as itself, never followed
    ScopedHandle through;  // a mounted volume's root, reached through its mount point
  };
  Outcome Fail(Outcome outcome, const std::wstring& at, DWORD error);
  Outcome HoldComponent(const std::wstring& path, bool isRoot);

  std::deque<HeldLink> chain_;  // the owners cannot move, so not a vector
  std::wstring path_;
  FinalPathQuery finalPath_ = nullptr;
  std::wstring failedAt_;
  DWORD error_ = ERROR_SUCCESS;
};

// A line for the log on why a chain could not be held.
std::wstring DescribeChainFailure(const HeldChain& chain, HeldChain::Outcome outcome);

}  // namespace qnvpd
