#!/usr/bin/python3
"""Parse and field checks of the deployment recipes under deploy/ that cannot
run here: the winget manifests, the Chocolatey package, the Ansible tasks and
the PowerShell detection script, plus the package command line each recipe
hands to QNVPDSetup.exe.

usage: deploy_recipes_check.py <source tree>
"""
import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import yaml

# ---------------------------------------------------------------- winget
# From the Windows Package Manager manifest schemas 1.10.0 (winget-cli,
# schemas/JSON/manifests/v1.10.0/): the fields each manifest must hold, and the
# responses a return code may be mapped to.
WINGET_MANIFEST_VERSION = "1.10.0"
WINGET_REQUIRED = {
    "version": {"PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType",
                "ManifestVersion"},
    "defaultLocale": {"PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
                      "PackageName", "License", "ShortDescription", "ManifestType",
                      "ManifestVersion"},
    "installer": {"PackageIdentifier", "PackageVersion", "Installers", "ManifestType",
                  "ManifestVersion"},
}
WINGET_RETURN_RESPONSES = {
    "packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse",
    "missingDependency", "diskFull", "insufficientMemory", "invalidParameter", "noNetwork",
    "contactSupport", "rebootRequiredToFinish", "rebootRequiredForInstall", "rebootInitiated",
    "cancelledByUser", "alreadyInstalled", "downgrade", "blockedByPolicy", "systemNotSupported",
    "custom"}

# The package's own exit codes, each of which the installer manifest maps.
PACKAGE_CODES = {101, 102, 104, 106, 107, 1001}

# ---------------------------------------------------------------- Ansible
# The options of the modules the task file may use, transcribed from the
# ansible.windows collection's module documentation (3.x; verify_signature
# came with 3.4.0), and the task keywords it may use.
ANSIBLE_MODULE_OPTIONS = {
    "ansible.windows.win_powershell": {"script", "parameters", "arguments", "chdir", "creates",
                                       "depth", "error_action", "executable", "removes",
                                       "path", "remote_src", "sensitive_parameters"},
    "ansible.windows.win_copy": {"src", "dest", "content", "backup", "decrypt", "force",
                                 "local_follow", "remote_src"},
    "ansible.windows.win_package": {"path", "arguments", "chdir", "checksum",
                                    "checksum_algorithm", "verify_signature", "creates_path",
                                    "creates_service", "creates_version", "expected_return_code",
                                    "log_path", "product_id", "provider", "state",
                                    "wait_for_children"},
    "ansible.windows.win_reboot": {"boot_time_command", "connect_timeout", "msg",
                                   "post_reboot_delay", "pre_reboot_delay", "reboot_timeout",
                                   "test_command"},
    "ansible.windows.win_file": {"path", "state"},
}
ANSIBLE_TASK_KEYWORDS = {"name", "when", "register", "check_mode", "changed_when",
                         "failed_when", "become", "become_method", "become_user", "timeout",
                         "block", "rescue", "always", "vars", "tags", "ignore_errors"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def package_version(source):
    """The package's version without a trailing .0, from its version block."""
    rc = (source / "Packager/res/QNVPDSetup.rc").read_text()
    parts = re.search(r'VALUE "FileVersion",\s*"([\d.]+)"', rc).group(1).split(".")
    while len(parts) > 3 and parts[-1] == "0":
        parts.pop()
    return ".".join(parts)


def check_command_line(where, text):
    """The package's rules for what a recipe hands it: a silent run mode, a
    -LOG: value without quotes or blanks (the whole command line reaches the
    installer inside one pair of quotes), no stray switch text, and port
    options only with -s1 and not in conflict."""
    log = re.search(r"-(?:LOG|log):(\S*)", text)
    check(log is None or '"' not in log.group(1), f"{where}: the -LOG: value is quoted: {text}")
    rest = text[:log.start()] + text[log.end():] if log else text
    check('"' not in rest, f"{where}: quotes in the command line: {text}")
    check(re.search(r"-[su]1|-[SU]1", rest), f"{where}: no silent run mode (-s1/-u1): {text}")
    for stray in ("-u3", "-U3", "-KM", "-km"):
        check(stray not in rest, f"{where}: {stray} in the command line: {text}")
    ports = dict(re.findall(r"-(QN|VD):((?:COM|LPT)\d+)", rest))
    with_ports = "-s1" in rest or "-S1" in rest
    check(not ports or with_ports, f"{where}: port options without -s1 are ignored: {text}")
    check(not ports or "QN" in ports, f"{where}: a VD port without a QN port ends with 107")
    check(len(set(ports.values())) == len(ports), f"{where}: the same port twice ends with 106")


def check_winget(source, version):
    manifests = {}
    for path in sorted((source / "deploy/winget").glob("*.yaml")):
        data = yaml.safe_load(path.read_text())
        kind = data.get("ManifestType")
        if not check(kind in WINGET_REQUIRED, f"{path.name}: ManifestType {kind!r}"):
            continue
        manifests[kind] = data
        check(not WINGET_REQUIRED[kind] - set(data),
              f"{path.name}: missing {sorted(WINGET_REQUIRED[kind] - set(data))}")
        check(data.get("ManifestVersion") == WINGET_MANIFEST_VERSION, f"{path.name}: ManifestVersion")
        check(str(data.get("PackageVersion")) == version,
              f"{path.name}: PackageVersion {data.get('PackageVersion')} is not the package's {version}")
    check(set(manifests) == set(WINGET_REQUIRED), f"winget: manifests {sorted(manifests)}")
    check(len({m.get("PackageIdentifier") for m in manifests.values()}) == 1,
          "winget: the manifests name different packages")

    installer = manifests.get("installer", {})
    check(installer.get("InstallerType") == "exe", "installer: InstallerType is not exe")
    switches = installer.get("InstallerSwitches", {})
    for name in ("Silent", "SilentWithProgress"):
        check_command_line(f"winget {name}", str(switches.get(name, "")))
    codes = {e.get("InstallerReturnCode"): e.get("ReturnResponse")
             for e in installer.get("ExpectedReturnCodes", [])}
    check(set(codes.values()) <= WINGET_RETURN_RESPONSES,
          f"installer: responses {sorted(set(codes.values()) - WINGET_RETURN_RESPONSES)}")
    check(PACKAGE_CODES <= set(codes), f"installer: unmapped exit codes {sorted(PACKAGE_CODES - set(codes))}")
    check(codes.get(101) == "installInProgress", "installer: 101 is not installInProgress")
    check(codes.get(3010) == "rebootRequiredToFinish", "installer: 3010 is not rebootRequiredToFinish")
    for entry in installer.get("Installers", []):
        # Unquoted, a hash of digits only is read as a number.
        check(re.fullmatch(r"[A-Fa-f0-9]{64}", str(entry.get("InstallerSha256", ""))),
              "installer: InstallerSha256 is not 64 hexadecimal digits")


def check_chocolatey(source, version):
    folder = source / "deploy/chocolatey"
    nuspecs = list(folder.glob("*.xml"))
    if not check(len(nuspecs) == 1, "chocolatey: not exactly one package manifest (.xml)"):
        return
    root = ET.parse(nuspecs[0]).getroot()
    ns = {"n": "http://schemas.microsoft.com/packaging/2015/06/nuspec.xsd"}
    check(root.tag == "{%s}package" % ns["n"], f"nuspec: root {root.tag}")
    metadata = root.find("n:metadata", ns)
    for field in ("id", "version", "title", "authors", "description"):
        element = metadata.find("n:" + field, ns) if metadata is not None else None
        check(element is not None and (element.text or "").strip(), f"nuspec: no {field}")
    check(metadata.findtext("n:version", "", ns) == version,
          f"nuspec: version {metadata.findtext('n:version', '', ns)} is not the package's {version}")
    check(re.match(r"^[a-z0-9][a-z0-9.-]*$", metadata.findtext("n:id", "", ns)), "nuspec: id")
    sources = [f.get("src") for f in root.findall("n:files/n:file", ns)]
    check(sources == ["tools\\**"], f"nuspec: files {sources}")
    tools = folder / "tools"
    install = (tools / "chocolateyInstall.ps1").read_text()
    check((tools / "chocolateyUninstall.ps1").is_file(), "chocolatey: no chocolateyUninstall.ps1")
    check(".skipAutoUninstall" in install, "chocolateyInstall.ps1 does not make .skipAutoUninstall")
    check(re.search(r"validExitCodes\s*=\s*@\(0, 3010, 1641\)", install),
          "chocolateyInstall.ps1: validExitCodes is not @(0, 3010, 1641)")
    silent = re.search(r"silentArgs\s*=\s*'([^']*)'", install)
    if check(silent, "chocolateyInstall.ps1: no silentArgs"):
        check_command_line("chocolatey silentArgs", silent.group(1))


def ansible_tasks(tasks):
    for task in tasks:
        yield task
        for section in ("block", "rescue", "always"):
            yield from ansible_tasks(task.get(section, []))


def check_ansible(source):
    path = source / "deploy/ansible/qnvpd-install.yml"
    tasks = yaml.safe_load(path.read_text())
    by_module = {}
    for task in ansible_tasks(tasks):
        modules = [k for k in task if k not in ANSIBLE_TASK_KEYWORDS]
        if "block" in task:
            check(not modules, f"ansible: block {task.get('name')!r} has {modules}")
            continue
        if not check(len(modules) == 1 and modules[0] in ANSIBLE_MODULE_OPTIONS,
                     f"ansible: task {task.get('name')!r}: {modules}"):
            continue
        module = modules[0]
        options = task[module] or {}
        check(not set(options) - ANSIBLE_MODULE_OPTIONS[module],
              f"ansible: {module} has no option {sorted(set(options) - ANSIBLE_MODULE_OPTIONS[module])}")
        by_module.setdefault(module, []).append(task)

    detection = by_module.get("ansible.windows.win_powershell", [{}])[0]
    check(detection.get("check_mode") is False, "ansible: the detection does not run in check mode")
    package = by_module.get("ansible.windows.win_package", [{}])[0]
    options = package.get("ansible.windows.win_package", {})
    check(options.get("expected_return_code") == [0, 3010, 1641],
          "ansible: expected_return_code is not [0, 3010, 1641]")
    check(options.get("verify_signature") is True, "ansible: no verify_signature")
    check(package.get("become") is True and package.get("become_user") == "SYSTEM",
          "ansible: the package does not run as SYSTEM")
    check("timeout" in package, "ansible: the package's run has no time limit")
    copy = by_module.get("ansible.windows.win_copy", [{}])[0].get("ansible.windows.win_copy", {})
    check(copy.get("dest") == options.get("path"), "ansible: win_package does not run the copy")
    cleanup = tasks[-1].get("always", [{}])[0].get("ansible.windows.win_file", {})
    check(cleanup.get("state") == "absent" and
          str(copy.get("dest", "")).startswith(str(cleanup.get("path")) + "\\"),
          "ansible: the copy's folder is not removed in always")
    reboot = by_module.get("ansible.windows.win_reboot", [{}])[0].get("when", "")
    check("3010" in reboot and "1641" in reboot, "ansible: the restart is not tied to 3010/1641")
    example = re.search(r"qnvpd_arguments: (.*)", path.read_text())
    if check(example, "ansible: no qnvpd_arguments example"):
        check_command_line("ansible qnvpd_arguments", example.group(1))


def check_detection_and_batch(source):
    rule = (source / "Packager/carryover/port_lines.cpp").read_text()
    hardware_id = re.search(r'find\("([^"]+)"\)', rule).group(1).replace("\\\\", "\\")
    script = (source / "deploy/detection/Detect-QNVPD.ps1").read_text()
    check(f"'*{hardware_id}*'" in script, f"Detect-QNVPD.ps1 does not look for {hardware_id}")
    check("Enum\\Root\\PORTS" in script, "Detect-QNVPD.ps1 does not look under Enum\\Root\\PORTS")
    check(not re.search(r"^\s*exit\b", script, re.M),
          "Detect-QNVPD.ps1 calls exit, which win_powershell does not expect")
    for batch in ("deploy/install-qnvpd.cmd", "deploy/group-policy/qnvpd-startup.cmd"):
        options = re.search(r'^set "options=(.*)"', (source / batch).read_text(), re.M)
        if check(options, f"{batch}: no options setting"):
            check_command_line(batch, options.group(1))


def main():
    source = Path(sys.argv[1])
    version = package_version(source)
    check_winget(source, version)
    check_chocolatey(source, version)
    check_ansible(source)
    check_detection_and_batch(source)
    for failure in failures:
        print("FAIL:", failure)
    print(f"deploy recipes: {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
