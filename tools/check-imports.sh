#!/bin/sh
# Checks that a built package is a self-contained 32-bit GUI executable: PE32,
# GUI subsystem, ASLR/DEP/terminal-server aware and NO_SEH, importing only
# KERNEL32 and msvcrt (both always loaded from the system folder, before the program runs),
# and delay-loading only system DLLs (loaded after its start, from the system
# folder: Packager/launcher/delay_load_hook.cpp).
set -u
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe") || exit 1
# "<DLL> <function>" per delay-loaded function; objdump does not list them.
delayed=$(/usr/bin/python3 - "$exe" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
    for imp in entry.imports:
        print(entry.dll.decode(), imp.name.decode() if imp.name else f"#{imp.ordinal}")
PY
) || exit 1
fail=0
echo "$dump" | grep -q 'Magic[[:space:]]*010b' || { echo "not PE32"; fail=1; }
echo "$dump" | grep -q 'Subsystem[[:space:]]*00000002' || { echo "not a GUI program"; fail=1; }
for flag in DYNAMIC_BASE NX_COMPAT NO_SEH TERMINAL_SERVICE_AWARE; do
  echo "$dump" | grep -q "$flag" || { echo "missing DllCharacteristics $flag"; fail=1; }
done
dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(echo $dlls)"
for dll in $dlls; do
  echo "$dll" | grep -qiE '^(KERNEL32|msvcrt)\.dll$' ||
    { echo "imports $dll: a static import is loaded before wWinMain restricts the DLL search;" \
           "add it to QNVPD_DELAY_LOADED_DLLS in CMakeLists.txt"; fail=1; }
done
delayed_dlls=$(echo "$delayed" | cut -d' ' -f1 | sort -u)
echo "delay-loaded: $(echo $delayed_dlls)"
[ -n "$delayed_dlls" ] || { echo "no delay-loaded DLL: the delay-import directory is missing"; fail=1; }
for dll in $delayed_dlls; do
  echo "$dll" | grep -qiE '^(USER32|ADVAPI32|COMCTL32|GDI32|SHELL32|ole32|USERENV|VERSION)\.dll$' ||
    { echo "delay-loads a non-system DLL: $dll"; fail=1; }
done
# Functions the oldest accepted Windows versions lack: importing one makes the
# loader refuse the program before it can report anything. Look them up at run time.
# wcscpy_s and wcscat_s (msvcrt.dll has them from Vista on) are what FORTIFY
# turns a wcscpy or wcscat into when it knows the destination's size.
newer='wcscpy_s|wcscat_s|GetTickCount64|AddVectoredExceptionHandler|RemoveVectoredExceptionHandler|SetFileInformationByHandle|GetFileInformationByHandleEx|CreateWellKnownSid|SetDllDirectoryW|SetDefaultDllDirectories|AddDllDirectory|IsWow64Process|InitializeCriticalSectionEx|CreateSymbolicLinkW|GetSystemTimePreciseAsFileTime|InitOnceExecuteOnce|SleepConditionVariableCS|WakeConditionVariable|FlsAlloc|GetNativeSystemInfo|AttachConsole'
for f in $(echo "$dump" | awk 'NF==3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print $3}') \
         $(echo "$delayed" | cut -d' ' -f2); do
  echo "$f" | grep -qxE "$newer" && { echo "imports $f, which older Windows versions lack"; fail=1; }
done
exit $fail
