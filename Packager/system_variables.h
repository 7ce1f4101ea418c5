// The system's own values of the folder variables a machine setting may refer
// to (%ProgramFiles%, %SystemRoot%, ...): taken from where the system takes
// them for every process, never from this process's environment, which an
// unelevated user can set before the elevation (HKCU\Environment).
#pragma once

#include <string>

namespace qnvpd {

// A text value under HKEY_LOCAL_MACHINE, terminated inside its buffer of the
// system's path limit and not expanded; empty when the key or value is missing
// or the text does not fit.
std::wstring ReadMachineText(const wchar_t* keyPath, const wchar_t* valueName);

// `text` with each "%NAME%" replaced by the system's own value of NAME
// (ProgramFiles, ProgramData, ALLUSERSPROFILE, SystemRoot, SystemDrive); a '%'
// without a closing one is plain text. False when a reference names a
// variable the system does not set, or whose value cannot be read: the text
// then does not name what its setting means.
bool ExpandSystemVariables(const std::wstring& text, std::wstring* expanded);

}  // namespace qnvpd
