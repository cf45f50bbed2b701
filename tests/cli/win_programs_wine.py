#!/usr/bin/env python3
"""The Windows build's two programs under Wine: qd_ip_search.com (console)
and qd_ip_search.exe (GUI, the window; a verb runs the command line on the
console it was started from). Only --version, --help and wrong options are
run: none of them opens a socket. Exit 77 without Wine."""

import argparse
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from winetest import Wine, windows_path  # noqa: E402

WRONG = b"qd_ip_search: unknown option '--lsit' (see 'qd_ip_search --help')"


def subsystem(path):
    """The PE optional header's Subsystem: 2 GUI, 3 console."""
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[pe + 24 + 68: pe + 24 + 70], "little")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--com", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--arguments-probe", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    wine = Wine(args.wine_run, args.prefix)
    failures = []

    def expect(what, got, wanted):
        if got != wanted:
            failures.append(f"{what}: got {got!r}, expected {wanted!r}")

    expect("qd_ip_search.com subsystem", subsystem(args.com), 3)
    expect("qd_ip_search.exe subsystem", subsystem(args.exe), 2)

    helps = {}
    for program in (args.com, args.exe):
        name = os.path.basename(program)
        result = wine.run(program, "--version")
        expect(f"{name} --version: exit", result.returncode, 0)
        expect(f"{name} --version", result.stdout, f"qd_ip_search {args.version}\n".encode())
        result = wine.run(program, "--help")
        expect(f"{name} --help: exit", result.returncode, 0)
        expect(f"{name} --help: errors", result.stderr, b"")
        helps[name] = result.stdout
        for wrong in (["--lsit"], ["--list", "--lsit"], ["--no-firewall", "--lsit"]):
            result = wine.run(program, *wrong)
            expect(f"{name} {' '.join(wrong)}: exit", result.returncode, 2)
            expect(f"{name} {' '.join(wrong)}: output", result.stdout, b"")
            expect(f"{name} {' '.join(wrong)}: message", result.stderr.rstrip(b"\r\n"), WRONG)
    com_help, exe_help = helps.values()
    if not (com_help.startswith(b"Usage") or b"--list" in com_help):
        failures.append(f"--help says {com_help[:200]!r}")
    expect("--help of the .exe as of the .com", exe_help, com_help)

    # cmd, typed without an extension: the console program runs, and cmd
    # gets its exit code.
    folder = os.path.dirname(os.path.abspath(args.com))
    result = wine.run("cmd", "/c", "qd_ip_search --lsit & echo exit %errorlevel%", cwd=folder)
    expect("cmd: qd_ip_search --lsit", result.stdout.replace(b"\r\n", b"\n").strip(),
           b"exit 2")
    expect("cmd: qd_ip_search --lsit: message", result.stderr.rstrip(b"\r\n"), WRONG)

    # Without a verb the .com starts the window program beside it with its
    # arguments and does not wait: a probe in the window program's place
    # writes the command line it got.
    work = tempfile.mkdtemp(prefix="programs-", dir=os.path.dirname(os.path.abspath(args.com)))
    try:
        shutil.copyfile(args.com, os.path.join(work, "qd_ip_search.com"))
        shutil.copyfile(args.arguments_probe, os.path.join(work, "qd_ip_search.exe"))
        log = os.path.join(work, "arguments.txt")
        result = wine.run(os.path.join(work, "qd_ip_search.com"), "--no-firewall", "-style",
                          "Windows Vista", env={"QDIPC_ARGUMENTS_LOG": windows_path(log)})
        expect("qd_ip_search.com without a verb: exit", result.returncode, 0)
        deadline = time.monotonic() + 20
        while not os.path.exists(log) and time.monotonic() < deadline:
            time.sleep(0.1)
        line = open(log, encoding="utf-8").read() if os.path.exists(log) else None
        expect("the window program's command line", line,
               f'"{windows_path(os.path.join(work, "qd_ip_search.exe"))}" --no-firewall -style '
               '"Windows Vista"')
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAIL:", failure)
    print(f"win_programs_wine: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
