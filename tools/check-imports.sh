#!/bin/sh
# Checks that a built program is a self-contained 32-bit GUI executable: PE32,
# GUI subsystem, ASLR/DEP/terminal-server aware, importing system DLLs only.
set -u
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe") || exit 1
fail=0
echo "$dump" | grep -q 'Magic[[:space:]]*010b' || { echo "not PE32"; fail=1; }
echo "$dump" | grep -q 'Subsystem[[:space:]]*00000002' || { echo "not a GUI program"; fail=1; }
for flag in DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE; do
  echo "$dump" | grep -q "$flag" || { echo "missing DllCharacteristics $flag"; fail=1; }
done
allowed='^(KERNEL32|USER32|ADVAPI32|COMCTL32|msvcrt|GDI32|SHELL32|ole32)\.dll$'
dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(echo $dlls)"
for dll in $dlls; do
  echo "$dll" | grep -qiE "$allowed" || { echo "imports a non-system DLL: $dll"; fail=1; }
done
# Functions the oldest accepted Windows versions lack: importing one makes the
# loader refuse the program before it can report anything. Look them up at run time.
newer='GetTickCount64|AddVectoredExceptionHandler|RemoveVectoredExceptionHandler|SetFileInformationByHandle|GetFileInformationByHandleEx|CreateWellKnownSid|SetDllDirectoryW|SetDefaultDllDirectories|AddDllDirectory|IsWow64Process|InitializeCriticalSectionEx|CreateSymbolicLinkW|GetSystemTimePreciseAsFileTime|InitOnceExecuteOnce|SleepConditionVariableCS|WakeConditionVariable|FlsAlloc|GetNativeSystemInfo|AttachConsole'
for f in $(echo "$dump" | awk 'NF==3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print $3}'); do
  echo "$f" | grep -qxE "$newer" && { echo "imports $f, which older Windows versions lack"; fail=1; }
done
exit $fail
