# The QN Virtual Port Driver's installer documents no silent uninstall, and the
# package cannot remove the product: its -u3 run removes only the maker's
# legacy USB printer driver (and empty KAVRO folders), never this product, its
# ports or its files. So this script removes nothing and fails, leaving the
# Chocolatey package installed, as the product is. The .skipAutoUninstall file
# that chocolateyInstall.ps1 made keeps Chocolatey's automatic uninstaller from
# starting the product's own, possibly interactive, uninstaller instead.
$ErrorActionPreference = 'Stop'
throw ('The QN Virtual Port Driver has no silent uninstall; nothing was removed. ' +
       'Remove it with its own uninstaller (Apps and Features), then drop this ' +
       'package with "choco uninstall kavro-qnvpd --skip-powershell".')
