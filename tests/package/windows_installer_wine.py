#!/usr/bin/env python3
"""The Windows downloads: the NSIS installer installed and uninstalled
silently (/S) under Wine in the build's Wine prefix, and the portable zip.

Installed: exactly the staged files (both programs, README.md, LICENSE.txt)
and uninstall.exe under C:\\Program Files\\qd_ip_search, the Start-menu link to
qd_ip_search.exe, the Add/Remove Programs key with its values; the installed
qd_ip_search.com runs (--version). Uninstalled: the folder, the link and the
key are gone. Wine's netsh is a stub that keeps no rules, so the firewall
rule itself cannot be seen here: the installer script's netsh commands are
checked against the program's own (platform/Firewall_win.cpp) instead.
Exit 77 without Wine.
"""

import argparse
import os
import re
import shutil
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from winetest import Wine  # noqa: E402

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qd_ip_search"
FILES = ["LICENSE.txt", "README.md", "qd_ip_search.com", "qd_ip_search.exe"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--setup", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--nsi", required=True)
    parser.add_argument("--firewall-source", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()

    wine = Wine(args.wine_run, args.prefix)
    # Wine would turn the Start-menu link into a desktop entry in this
    # machine's home folder: not in a test.
    wine.env["WINEDLLOVERRIDES"] = "mscoree,mshtml,winemenubuilder.exe="
    failures = []

    def expect(what, got, wanted):
        if got != wanted:
            failures.append(f"{what}: got {got!r}, expected {wanted!r}")

    drive_c = os.path.join(args.prefix, "drive_c")
    folder = os.path.join(drive_c, "Program Files", "qd_ip_search")
    link = os.path.join(drive_c, "ProgramData", "Microsoft", "Windows", "Start Menu",
                        "Programs", "qd_ip_search.lnk")
    staged = {name: open(os.path.join(args.stage, name), "rb").read() for name in FILES}

    # The portable zip: the same files in one folder, byte for byte.
    with zipfile.ZipFile(args.zip) as archive:
        names = sorted(n for n in archive.namelist() if not n.endswith("/"))
        expect("zip: files", names, sorted("qd_ip_search/" + n for n in FILES))
        for name in FILES:
            if "qd_ip_search/" + name in names and \
                    archive.read("qd_ip_search/" + name) != staged[name]:
                failures.append(f"zip: {name} differs from the staged file")

    # The installer's firewall commands are the program's rule.
    source = open(args.firewall_source).read()
    rule = re.search(r'kNetshCommand = "netsh (firewall add portopening UDP 8089 [^"]+)"',
                     source)
    script = open(args.nsi).read()
    if not rule:
        failures.append("no netsh command in " + args.firewall_source)
    else:
        add = f"nsExec::Exec '\"$SYSDIR\\netsh.exe\" {rule.group(1)}'"
        if add not in script:
            failures.append(f"the installer does not run {add}")
    delete = "nsExec::Exec '\"$SYSDIR\\netsh.exe\" firewall delete portopening UDP 8089'"
    if delete not in script:
        failures.append(f"the uninstaller does not run {delete}")

    work = tempfile.mkdtemp(prefix="installer-", dir=os.path.dirname(args.setup))
    try:
        # What an earlier run that was stopped halfway may have left.
        shutil.rmtree(folder, ignore_errors=True)
        if os.path.exists(link):
            os.remove(link)
        wine.regedit(["[-" + UNINSTALL_KEY.replace("HKLM", "HKEY_LOCAL_MACHINE") + "]"], work)

        started = time.monotonic()
        result = wine.run(args.setup, "/S")
        install_seconds = time.monotonic() - started
        expect("setup /S: exit", result.returncode, 0)

        present = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        expect("installed files", present, sorted(FILES + ["uninstall.exe"]))
        for name in FILES:
            path = os.path.join(folder, name)
            if os.path.exists(path) and open(path, "rb").read() != staged[name]:
                failures.append(f"installed {name} differs from the staged file")

        if not os.path.exists(link):
            failures.append("no Start-menu link " + link)
        else:
            data = open(link, "rb").read()
            if "qd_ip_search.exe".encode("utf-16-le") not in data and \
                    b"qd_ip_search.exe" not in data:
                failures.append("the Start-menu link does not name qd_ip_search.exe")
            # Its working folder (the error log's) is the user's, not Program Files.
            if "%USERPROFILE%".encode("utf-16-le") not in data and b"%USERPROFILE%" not in data:
                failures.append("the Start-menu link does not start in %USERPROFILE%")

        values = {}
        for line in wine.reg_query(UNINSTALL_KEY).splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2]
        install_dir = r"C:\Program Files\qd_ip_search"
        expect("DisplayName", values.get("DisplayName"), "qd_ip_search")
        expect("DisplayVersion", values.get("DisplayVersion"), args.version)
        expect("InstallLocation", values.get("InstallLocation"), install_dir)
        expect("UninstallString", values.get("UninstallString"),
               f'"{install_dir}\\uninstall.exe"')
        expect("QuietUninstallString", values.get("QuietUninstallString"),
               f'"{install_dir}\\uninstall.exe" /S')
        expect("NoModify", values.get("NoModify"), "0x1")
        size = int(values.get("EstimatedSize", "0"), 16)
        total = sum(len(data) for data in staged.values()) // 1024
        if not total <= size <= total + 1024:
            failures.append(f"EstimatedSize {size} KB for {total} KB of files")

        result = wine.run(install_dir + r"\qd_ip_search.com", "--version")
        expect("installed qd_ip_search.com --version", result.stdout,
               f"qd_ip_search {args.version}\n".encode())

        # The uninstaller copies itself away and goes on from there after its
        # first process ends: wait for it, 60 s at most.
        result = wine.run(install_dir + r"\uninstall.exe", "/S")
        expect("uninstall /S: exit", result.returncode, 0)
        deadline = time.monotonic() + 60
        while os.path.exists(folder) and time.monotonic() < deadline:
            time.sleep(0.25)
        if os.path.exists(folder):
            failures.append(f"after uninstalling, {folder} holds {os.listdir(folder)}")
        if os.path.exists(link):
            failures.append("after uninstalling, the Start-menu link is still there")
        left = wine.reg_query(UNINSTALL_KEY)
        if left:
            failures.append("after uninstalling, the Add/Remove Programs key holds " + left)
        print(f"installed in {install_seconds:.1f} s; {len(FILES) + 1} files, the link and "
              f"{len(values)} registry values checked; all gone after uninstalling")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
        if os.path.exists(link):
            os.remove(link)
        wine.regedit(["[-" + UNINSTALL_KEY.replace("HKLM", "HKEY_LOCAL_MACHINE") + "]"], work)
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAIL:", failure)
    print(f"windows_installer_wine: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
