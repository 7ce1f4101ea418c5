// What stands at the working folder's name before a run creates it: found
// without following it, renamed aside, and deleted only when nobody but
// administrators could have written it.
#pragma once

#include <string>

#include "run_log.h"

namespace qnvpd {

// What stands at a name, found without following it.
struct FolderOccupant {
  enum Kind { Nothing, Link, File, Folder, Unknown };
  Kind kind = Nothing;
  bool isPrivate = false;  // a Folder whose descriptor IsPrivateDescriptor accepts
};

// Looks at what stands at `name` (a folder's name, no trailing backslash); a
// folder's owner and DACL are read through a handle on it, never a link's target.
FolderOccupant InspectOccupant(const std::wstring& name);
using OccupantInspection = FolderOccupant (*)(const std::wstring& name);

enum class OccupantAction {
  Create,     // nothing there: create the working folder
  RemoveOurs, // only administrators could have written it: rename it aside, then delete it
  SetAside,   // a link, a file, someone else's folder: rename it aside and leave it
};
OccupantAction DecideOccupant(const FolderOccupant& occupant);

// Sibling names tried when something is renamed aside or a sibling is created.
constexpr int kSiblingNameAttempts = 10;

// A sibling name of `name` nobody can guess: "<name>.<16 hexadecimal digits>"
// from the system's random generator. Empty when the generator fails.
std::wstring RandomSiblingName(const std::wstring& name);

// Clears `name` (in a folder whose path is held, see HeldChain) for a folder of
// this run's own: renames aside whatever stands there (a link as itself, its
// target never touched) and deletes what it renamed only when DecideOccupant
// says it is ours. True when nothing stands there any more; false when what
// stands there cannot be renamed (on Windows, for instance, a folder from which
// a program is running), and then it is untouched. What it did goes to `report`.
bool SetAsideWhatStands(const std::wstring& name, OccupantInspection inspect,
                        StepReport* report);

}  // namespace qnvpd
