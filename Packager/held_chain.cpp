#include "held_chain.h"

#include "run_log.h"

namespace qnvpd {

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Attributes through the handle, or INVALID_FILE_ATTRIBUTES.
DWORD HandleAttributes(HANDLE opened) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(opened, &info) ? info.dwFileAttributes
                                                   : INVALID_FILE_ATTRIBUTES;
}

bool IsFolderAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

HANDLE HeldChain::Folder() const {
  if (chain_.empty()) return nullptr;
  const HeldLink& last = chain_.back();
  return last.through.IsValid() ? last.through.Get() : last.self.Get();
}

HeldChain::Outcome HeldChain::Fail(Outcome outcome, const std::wstring& at, DWORD error) {
  chain_.clear();
  path_.clear();
  failedAt_ = at;
  error_ = error;
  return outcome;
}

HeldChain::Outcome HeldChain::Hold(const std::wstring& folder, FinalPathQuery finalPath) {
  Release();
  finalPath_ = finalPath;
  failedAt_.clear();
  error_ = ERROR_SUCCESS;

  std::wstring target = ComparablePath(folder);
  if (finalPath != nullptr) {
    // Followed once: whatever link the text runs through is resolved here, and
    // the rest of the run works with the path it led to.
    ScopedFile opened(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!opened.IsValid()) return Fail(kUnreachable, folder, GetLastError());
    if (!IsFolderAttributes(HandleAttributes(opened.Get()))) {
      return Fail(kNotAFolder, folder, ERROR_DIRECTORY);
    }
    target = FinalPathOf(opened.Get(), finalPath);
    if (target.empty()) return Fail(kUnreachable, folder, GetLastError());
  }
  if (target.compare(0, 2, L"\\\\") == 0) return Fail(kNetwork, target, ERROR_SUCCESS);
  if (target.size() < 2 || !IsDriveLetter(target[0]) || target[1] != L':' ||
      (target.size() > 2 && target[2] != L'\\')) {
    return Fail(kUnreachable, target, ERROR_BAD_PATHNAME);
  }

  // Root first, then each folder below it, each held before the next is opened
  // through it.
  Outcome outcome = HoldComponent(target.substr(0, 2) + L"\\", true);
  for (size_t end = 3; outcome == kHeld && end < target.size() + 1; ++end) {
    if (end == target.size() || target[end] == L'\\') {
      outcome = HoldComponent(target.substr(0, end), false);
    }
  }
  if (outcome != kHeld) return outcome;
  path_ = target + L"\\";
  return kHeld;
}

HeldChain::Outcome HeldChain::HoldComponent(const std::wstring& path, bool isRoot) {
  // Each folder below the root is opened through the held folder above it, so
  // no rename or link further up can lead the walk elsewhere meanwhile.
  HANDLE parent = isRoot ? nullptr : Folder();
  chain_.emplace_back();
  HeldLink& link = chain_.back();
  link.path = path;
  if (isRoot) {
    HANDLE root = OpenHeldFolder(path);
    link.self.Reset(root == INVALID_HANDLE_VALUE ? nullptr : root);
  } else {
    link.self.Reset(OpenEntryBelow(parent, path.substr(path.rfind(L'\\') + 1), kHeldFolderAccess,
                                   kHoldSharing, true));
  }
  if (!link.self.IsValid()) return Fail(kUnreachable, path, GetLastError());
  const DWORD attributes = HandleAttributes(link.self.Get());
  if (!IsFolderAttributes(attributes)) return Fail(kNotAFolder, path, ERROR_DIRECTORY);
  // A volume's root is what a drive letter names, never a link; Wine reports
  // the Linux mount point behind a drive (Z:\ is /) as a reparse point through
  // its path, so the root is judged by its handle only.
  if (!isRoot && !IsPlainFolder(link.self.Get(), path)) {
    // A mount point of a volume is a reparse point too. The system's final
    // path of what lies behind it is the mount point's own path only where it
    // is where the volume is mounted; a junction or symbolic link leads to
    // another folder's path instead, and is refused (the final path of the
    // whole folder, asked in Hold, already resolved every link there was).
    if (finalPath_ == nullptr) return Fail(kLink, path, ERROR_SUCCESS);
    HANDLE through = CreateFileW(path.c_str(), kHeldFolderAccess, kHoldSharing, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    link.through.Reset(through == INVALID_HANDLE_VALUE ? nullptr : through);
    if (!link.through.IsValid()) return Fail(kUnreachable, path, GetLastError());
    const std::wstring behind = FinalPathOf(link.through.Get(), finalPath_);
    if (behind.empty() || !IsSamePath(behind, path)) return Fail(kLink, path, ERROR_SUCCESS);
  }
  return kHeld;
}

bool HeldChain::Confirm(HANDLE below, const std::wstring& name) const {
  if (chain_.empty()) return false;
  // Every other folder of the chain held the next one when it was held, so
  // only the last could have been empty, and turned into a link since.
  const HeldLink& last = chain_.back();
  if (last.through.IsValid()) {
    if (!IsSamePath(FinalPathOf(last.through.Get(), finalPath_), last.path)) return false;
  } else if (chain_.size() > 1) {
    const DWORD attributes = HandleAttributes(last.self.Get());
    if (!IsFolderAttributes(attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  }
  if (finalPath_ == nullptr) return true;
  return IsSamePath(FinalPathOf(below, finalPath_), path_ + name);
}

void HeldChain::Release() {
  // Innermost first, so that no folder is released while one below it is held.
  while (!chain_.empty()) chain_.pop_back();
  path_.clear();
}

std::wstring DescribeChainFailure(const HeldChain& chain, HeldChain::Outcome outcome) {
  const std::wstring at = chain.FailedAt();
  switch (outcome) {
    case HeldChain::kHeld:
      return chain.Path();
    case HeldChain::kUnreachable:
      return at + L" cannot be held (" + DescribeError(chain.Error()) + L")";
    case HeldChain::kNotAFolder:
      return at + L" is not a folder";
    case HeldChain::kNetwork:
      return at + L" lies on a network share";
    case HeldChain::kLink:
      return at + L" is a link this system cannot resolve safely";
  }
  return at;
}

}  // namespace qnvpd
