#!/usr/bin/python3
"""The Debian package: builds it with CPack from the build folder, unpacks it
into a temporary root with dpkg-deb -x (nothing is installed on this machine),
runs the unpacked program with --version and without a display, and checks
that every file lies where the desktop looks for it, that the manual page
covers every option of --help, that the firewalld service and the ufw
profile of the receive port are valid, the package's dependencies, and that lintian,
desktop-file-validate and appstreamcli find no errors.

    package_test.py --build DIR --font PACKAGE --app-id ID

Exit codes: 0 passed, 1 failed, 77 skipped (a tool is missing; the reason is
printed).
"""

import argparse
import configparser
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

sys.dont_write_bytecode = True

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print(f"FAIL: {message}", flush=True)
    return condition


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=120, **kwargs)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--font", required=True)
    parser.add_argument("--app-id", required=True)
    args = parser.parse_args()

    for tool in ("cpack", "dpkg-deb", "dpkg-shlibdeps"):
        if not shutil.which(tool):
            print(f"SKIP: {tool} is not installed", flush=True)
            return 77

    with tempfile.TemporaryDirectory(prefix="qd-package-") as tmp:
        # Build the package from the existing build folder, into a folder of
        # our own so that a ./run package beside this does not interfere.
        out_dir = os.path.join(tmp, "out")
        made = run(["cpack", "-G", "DEB", "-B", out_dir, "--config",
                    os.path.join(args.build, "CPackConfig.cmake")], cwd=args.build)
        debs = glob.glob(os.path.join(out_dir, "*.deb"))
        if not check(made.returncode == 0 and len(debs) == 1,
                     f"cpack made {debs}: {made.stdout[-2000:]} {made.stderr[-2000:]}"):
            return 1
        deb = debs[0]
        check(os.path.basename(deb) == "qd-ip-search_1.0.0.1_amd64.deb"
              or re.fullmatch(r"qd-ip-search_1\.0\.0\.1_\w+\.deb", os.path.basename(deb)),
              f"package file name {os.path.basename(deb)}")

        root = os.path.join(tmp, "root")
        unpacked = run(["dpkg-deb", "-x", deb, root])
        if not check(unpacked.returncode == 0, f"dpkg-deb -x: {unpacked.stderr}"):
            return 1

        # The unpacked program answers --version without a display or a
        # session: the toolkit's windowing is never set up for it.
        program = os.path.join(root, "usr", "bin", "qd_ip_search")
        env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "LANG": "C.UTF-8"}
        version = run([program, "--version"], env=env)
        check(version.returncode == 0 and version.stdout == "qd_ip_search 1.0.0.1\n"
              and version.stderr == "",
              f"--version gave {version.returncode} {version.stdout!r} {version.stderr!r}")
        with open("/dev/full", "w") as full:  # output that cannot be written is a failure
            lost = subprocess.run([program, "--version"], env=env, stdout=full,
                                  stderr=subprocess.DEVNULL, timeout=60)
        check(lost.returncode == 1, f"--version into a full disk exited with {lost.returncode}")
        help_run = run([program, "--help"], env=env)
        check(help_run.returncode == 0, f"--help exited with {help_run.returncode}")

        # The desktop entry names the installed program and an icon the
        # hicolor theme holds at every size.
        desktop_path = os.path.join(root, "usr/share/applications", args.app_id + ".desktop")
        if check(os.path.isfile(desktop_path), f"no desktop entry at {desktop_path}"):
            entry = configparser.ConfigParser(interpolation=None)
            entry.optionxform = str
            entry.read(desktop_path, encoding="utf-8")
            section = entry["Desktop Entry"]
            check(section.get("Name") == "Search Tool", f"Name={section.get('Name')}")
            check("Network" in section.get("Categories", "").split(";"),
                  f"Categories={section.get('Categories')}")
            exec_program = section.get("Exec", "").split()[0]
            check(os.path.isfile(os.path.join(root, "usr/bin", exec_program)),
                  f"Exec={exec_program} is not in /usr/bin")
            icon = section.get("Icon", "")
            for size in (16, 32, 48, 256):
                path = os.path.join(root, f"usr/share/icons/hicolor/{size}x{size}/apps",
                                    icon + ".png")
                check(os.path.isfile(path) and png_size(path) == (size, size),
                      f"icon {icon} at {size} px: {path} is {png_size(path) if os.path.isfile(path) else 'missing'}")
            validated = run(["desktop-file-validate", desktop_path])
            check(validated.returncode == 0 and not validated.stdout.strip(),
                  f"desktop-file-validate: {validated.stdout}{validated.stderr}")

        metainfo = os.path.join(root, "usr/share/metainfo", args.app_id + ".metainfo.xml")
        if check(os.path.isfile(metainfo), f"no AppStream metadata at {metainfo}"):
            text = open(metainfo, encoding="utf-8").read()
            check(f"<id>{args.app_id}</id>" in text, "the metadata's id is not the app ID")
            check(f'<launchable type="desktop-id">{args.app_id}.desktop</launchable>' in text,
                  "the metadata does not launch the desktop entry")
            validated = run(["appstreamcli", "validate", "--no-net", metainfo])
            check(validated.returncode == 0, f"appstreamcli validate: {validated.stdout}")

        # The manual page documents every option that --help lists.
        man = os.path.join(root, "usr/share/man/man1/qd_ip_search.1.gz")
        if check(os.path.isfile(man), "no manual page"):
            page = gzip.open(man, "rt", encoding="utf-8").read().replace("\\-", "-")
            options = set(re.findall(r"--[a-z][a-z-]*", help_run.stdout))
            check(len(options) >= 12, f"--help lists only {sorted(options)}")
            missing = sorted(o for o in options if not re.search(re.escape(o) + r"\b", page))
            check(not missing, f"the manual page lacks {missing}")
        check(os.path.isfile(os.path.join(root, "usr/share/doc/qd-ip-search/copyright")),
              "no copyright file")

        # The receive port for the administrator to enable: a firewalld
        # service and a ufw application profile, both for UDP 8089 only.
        service = os.path.join(root, "usr/lib/firewalld/services/qd-ip-search.xml")
        if check(os.path.isfile(service), "no firewalld service"):
            try:
                tree = ElementTree.parse(service).getroot()
                ports = [(p.get("protocol"), p.get("port")) for p in tree.findall("port")]
                check(tree.tag == "service" and (tree.findtext("short") or "").strip()
                      and ports == [("udp", "8089")],
                      f"firewalld service: <{tree.tag}> short={tree.findtext('short')!r} "
                      f"ports={ports}")
            except ElementTree.ParseError as error:
                check(False, f"firewalld service is not XML: {error}")
            if shutil.which("firewall-offline-cmd"):
                info = run(["firewall-offline-cmd", "--info-service=qd-ip-search"])
                check(info.returncode == 0 and "8089/udp" in info.stdout,
                      f"firewall-offline-cmd: {info.stdout}{info.stderr}")
        profile_path = os.path.join(root, "etc/ufw/applications.d/qd-ip-search")
        if check(os.path.isfile(profile_path), "no ufw application profile"):
            profile = configparser.ConfigParser(interpolation=None)
            profile.read(profile_path, encoding="utf-8")
            check(profile.sections() == ["qd-ip-search"]
                  and set(profile["qd-ip-search"]) == {"title", "description", "ports"}
                  and profile["qd-ip-search"]["title"].strip()
                  and profile["qd-ip-search"]["description"].strip()
                  and profile["qd-ip-search"]["ports"] == "8089/udp",
                  f"ufw profile: {open(profile_path, encoding='utf-8').read()!r}")
            conffiles = run(["dpkg-deb", "-I", deb, "conffiles"]).stdout.split()
            check(conffiles == ["/etc/ufw/applications.d/qd-ip-search"],
                  f"conffiles: {conffiles}")

        # Dependencies: the libraries the binary links (from dpkg-shlibdeps)
        # and what it loads at run time.
        depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout
        names = {d.split()[0] for d in depends.replace("|", ",").split(",") if d.strip()}
        for needed in ("vlc-plugin-base", "vlc-plugin-video-output", "qt6-qpa-plugins",
                       args.font, "libvlc5", "libqt6widgets6", "libc6"):
            check(needed in names, f"Depends lacks {needed}: {depends.strip()}")

        if shutil.which("lintian"):
            lint = run(["lintian", "--fail-on", "error", deb])
            errors = [line for line in lint.stdout.splitlines() if line.startswith("E:")]
            check(lint.returncode == 0 and not errors, f"lintian: {lint.stdout}{lint.stderr}")
        else:
            check(False, "lintian is not installed (scripts/install-deps.sh installs it)")

    if failures:
        print(f"FAIL: {len(failures)} package check(s) failed", flush=True)
        return 1
    print("PASS: package", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
