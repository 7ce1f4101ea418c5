# Runs the QN Virtual Port Driver's package silently. -u1 installs without port
# options; text given with "choco install --install-arguments" is appended, so
# "-s1 -QN:COM3 -VD:COM4" there reads the ports (-s1 wins over -u1). The
# package expands %SystemRoot% in the -LOG: value itself.
$ErrorActionPreference = 'Stop'
$toolsDir = Split-Path -Parent $MyInvocation.MyCommand.Definition
# Keeps Chocolatey's automatic uninstaller from starting the product's own,
# possibly interactive, uninstaller (see chocolateyUninstall.ps1). Made here:
# pack leaves out files whose names begin with a dot.
New-Item -ItemType File -Force -Path (Join-Path $toolsDir '.skipAutoUninstall') | Out-Null
$packageArgs = @{
  packageName    = $env:ChocolateyPackageName
  fileType       = 'exe'
  file           = Join-Path $toolsDir 'QNVPDSetup.exe'
  silentArgs     = '-u1 -LOG:%SystemRoot%\Logs\QNVPDSetup.log'
  validExitCodes = @(0, 3010, 1641)
}
Install-ChocolateyInstallPackage @packageArgs
# No shim for the package, and no copy left in the lib folder.
Remove-Item -LiteralPath $packageArgs.file -Force -ErrorAction SilentlyContinue
