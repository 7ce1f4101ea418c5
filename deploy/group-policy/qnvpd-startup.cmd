@echo off
rem Computer start-up script (Computer Configuration > Policies > Windows
rem Settings > Scripts > Startup): installs the QN Virtual Port Driver once.
rem It runs as SYSTEM before anyone logs on and nobody sees its exit code, so
rem it records every install attempt. While a port of the product exists it
rem does nothing. Otherwise it copies the package from the share into a folder
rem only administrators can write, checks the copy, runs it from there,
rem records the outcome and deletes the copy. A run that failed (101 included)
rem is tried again at the next start.
setlocal

rem ---- Settings ---------------------------------------------------------------
rem The share (readable by the computer accounts) that holds QNVPDSetup.exe.
set "share=\\server\deploy\QNVPD"
rem The package's SHA-256 as "certutil -hashfile QNVPDSetup.exe SHA256" prints
rem it; the copy is run only when it matches. Empty skips the check.
set "sha256="
rem The package's command line (see install-qnvpd.cmd). The -LOG: value must not
rem be quoted and must not contain blanks.
set "options=-s1 -QN:COM3 -VD:COM4 -LOG:%SystemRoot%\Logs\QNVPDSetup.log"
rem Where the copy runs from: a new folder in the Windows folder, where only
rem administrators may create folders and which it inherits that from.
set "stage=%SystemRoot%\QNVPDSetup-stage"
rem The record of this script's runs, in a folder only administrators can write.
set "record=%SystemRoot%\Logs\QNVPDSetup-startup.txt"
rem -----------------------------------------------------------------------------

rem Installed when the first hardware ID of a port under Enum\Root\PORTS
rem contains umdf\kavroportemulator in any case (the package's own rule).
set "installed="
for /f "tokens=2,*" %%a in ('%SystemRoot%\System32\reg.exe query HKLM\SYSTEM\CurrentControlSet\Enum\Root\PORTS /s /v HardwareID 2^>nul') do if /i "%%a"=="REG_MULTI_SZ" call :check_first_id "%%b"
if defined installed exit /b 0

if exist "%stage%\" rd /s /q "%stage%"
mkdir "%stage%" 2>nul
if not exist "%stage%\" goto stage_failed
copy /b /y "%share%\QNVPDSetup.exe" "%stage%\QNVPDSetup.exe" >nul 2>&1
if errorlevel 1 goto copy_failed
if not defined sha256 goto run
call :matches_sha256 "%stage%\QNVPDSetup.exe"
if errorlevel 1 goto hash_mismatch

:run
"%stage%\QNVPDSetup.exe" %options%
set "rc=%ERRORLEVEL%"
call :record "exit code %rc%"
rd /s /q "%stage%"
exit /b %rc%

:stage_failed
call :record "creating %stage% failed; not run"
exit /b 1

:copy_failed
call :record "copying %share%\QNVPDSetup.exe failed; not run"
rd /s /q "%stage%"
exit /b 1

:hash_mismatch
call :record "the copy of %share%\QNVPDSetup.exe does not have the expected SHA-256; not run"
rd /s /q "%stage%"
exit /b 1

rem Sets installed when the first ID of a REG_MULTI_SZ as reg.exe prints it
rem (IDs separated by \0) contains the product's hardware ID.
:check_first_id
set "ids=%~1"
set "ids=%ids:\0=;%"
for /f "delims=;" %%f in ("%ids%") do set "first=%%f"
if not "%first:umdf\kavroportemulator=%"=="%first%" set "installed=yes"
exit /b 0

rem Exit code 0 when the file's SHA-256 is the expected one. certutil prints a
rem title line, the hash (with blanks between the bytes on Windows 7) and a
rem status line; no output counts as a mismatch.
:matches_sha256
set "actual="
for /f "skip=1 delims=" %%h in ('%SystemRoot%\System32\certutil.exe -hashfile "%~1" SHA256') do if not defined actual set "actual=%%h"
if not defined actual exit /b 1
set "actual=%actual: =%"
if /i "%actual%"=="%sha256%" exit /b 0
exit /b 1

:record
>>"%record%" echo %DATE% %TIME% %~1
exit /b 0
