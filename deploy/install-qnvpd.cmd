@echo off
rem Installs the QN Virtual Port Driver silently with the QNVPDSetup.exe beside
rem this script, says what the outcome means and ends with the package's exit
rem code unchanged, so that the deployment tool's own success codes apply
rem (0, 3010 and 1641 are successes). Run it as SYSTEM or as an administrator.
setlocal

rem ---- Settings ---------------------------------------------------------------
rem The package's command line: -s1 reads the port options (here the printer on
rem COM3, the customer display on COM4), -u1 installs without them. The -LOG:
rem value must not be quoted and must not contain blanks.
set "options=-s1 -QN:COM3 -VD:COM4 -LOG:%SystemRoot%\Logs\QNVPDSetup.log"
rem A command to run after a 3010 (installed, a restart completes it); empty
rem leaves the restart to the machine's next one. For example:
rem set "restart_after_3010=%SystemRoot%\System32\shutdown.exe /r /t 300 /d p:4:2 /c "QN Virtual Port Driver: restart to complete the installation""
set "restart_after_3010="
rem -----------------------------------------------------------------------------

"%~dp0QNVPDSetup.exe" %options%
set "rc=%ERRORLEVEL%"

set "message=failed: the installer reported %rc%."
if "%rc%"=="0" set "message=installed."
if "%rc%"=="3010" set "message=installed; a restart completes the installation."
if "%rc%"=="1641" set "message=installed; the installer has started a restart."
if "%rc%"=="101" set "message=another installation is running; nothing was done. Try again later."
if "%rc%"=="102" set "message=this Windows version is not supported."
if "%rc%"=="104" set "message=not started as an administrator; run as SYSTEM or as an administrator."
if "%rc%"=="106" set "message=the QN and the VD port must differ; fix the options."
if "%rc%"=="107" set "message=a VD port needs a QN port; fix the options."
if "%rc%"=="1001" set "message=the installation failed; the run log says why."
echo QN Virtual Port Driver: %message%
if "%rc%"=="3010" if defined restart_after_3010 call :restart
exit /b %rc%

:restart
echo QN Virtual Port Driver: restarting with the restart_after_3010 command.
%restart_after_3010%
exit /b 0
