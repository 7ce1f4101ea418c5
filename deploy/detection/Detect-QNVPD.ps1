# Detects the QN Virtual Port Driver, for Intune and Configuration Manager
# (custom detection script) and Ansible (win_powershell).
#
# Installed: writes one line and ends with exit code 0. Not installed: writes
# nothing and ends with exit code 0 (the rule both tools apply).
#
# A port of the product is a device under Enum\Root\PORTS whose first hardware
# ID contains umdf\kavroportemulator in any case (the rule by which the package
# finds them for PORTS.dat). With $MinimumDriverVersion set, the port's driver
# must also be of that version or later: Windows records the version of every
# installed device driver (DriverVersion, from its INF) in the driver key that
# the device's Driver value names. Which version a release of the product
# installs is the product's affair: read it on a machine with that release
# (see docs/deployment.md) and put it here.
param([string]$MinimumDriverVersion = '')

$classes = 'HKLM:\SYSTEM\CurrentControlSet\Control\Class'
foreach ($port in Get-ChildItem -LiteralPath 'HKLM:\SYSTEM\CurrentControlSet\Enum\Root\PORTS' -ErrorAction SilentlyContinue) {
  $ids = @($port.GetValue('HardwareID'))
  if ($ids.Count -eq 0 -or "$($ids[0])" -notlike '*umdf\kavroportemulator*') { continue }
  $version = ''
  $driver = $port.GetValue('Driver')
  if ($driver) {
    $version = (Get-ItemProperty -LiteralPath (Join-Path $classes $driver) -ErrorAction SilentlyContinue).DriverVersion
  }
  if ($MinimumDriverVersion) {
    try { $recent = [version]"$version" -ge [version]$MinimumDriverVersion } catch { $recent = $false }
    if (-not $recent) { continue }
  }
  "QN Virtual Port Driver: port $($port.PSChildName), driver version $version"
  break
}
