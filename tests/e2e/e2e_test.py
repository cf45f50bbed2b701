#!/usr/bin/python3
"""End-to-end tests: the real qd_ip_search program on a virtual camera LAN.

    e2e_test.py SCENARIO --app PATH --camsim PATH [--rtsp PATH] [--vlan PATH]

creates the LAN with scripts/vlan.sh (which removes it again whatever happens),
and runs the scenario inside the tool's namespace: an X server (Xvfb), the
program on the xcb platform, simulated cameras and a packet capture on the
camera host. The program is driven with real pointer and keyboard input
(xdotool) at the positions the accessibility tree gives for its controls; the
checks are on what the window shows (accessible texts and pixels) and on what
the camera host receives.

Exit codes: 0 passed, 1 failed, 77 skipped (the reason is printed).
"""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import traceback
from datetime import datetime, timedelta, timezone

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import camlab  # noqa: E402
from camlab import Failure, Lab, MainWindow, Skip, check, log  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_ROOT = os.path.dirname(os.path.dirname(HERE))

# Each scenario's own limit; the CTest timeout lies above it, so the harness
# normally stops everything itself.
SCENARIO_LIMIT_S = 150


def wait_expected_rows(lab, mark, index, search_id, count, lan=0):
    """The rows that the replies the camera host on `lan` sent after capture
    record `index` give for search_id, waited for until there are `count`
    of them (at most 5 s)."""
    deadline = time.monotonic() + 5
    expected = []
    while len(expected) < count and time.monotonic() < deadline:
        time.sleep(0.1)
        expected = camlab.expected_rows(camlab.replies_after(lab, mark, index, lan), search_id)
    return expected


def assert_rows_match_replies(lab, window, count, mark, label):
    """The list shows exactly the rows the replies that reached the camera
    host's wire give for the latest search, in arrival order."""
    search_id, index, request = camlab.search_id_of_latest_request(lab, mark)
    wait_expected_rows(lab, mark, index, search_id, count)
    rows = window.wait_rows(count)
    expected = camlab.expected_rows(camlab.replies_after(lab, mark, index), search_id)
    check(len(expected) == count,
          f"{label}: the cameras sent {len(expected)} acceptable replies, expected {count}")
    check(rows == expected,
          f"{label}: the list shows\n  " + "\n  ".join(map(str, rows)) +
          "\nbut the replies give\n  " + "\n  ".join(map(str, expected)))
    log(f"{label}: {len(rows)} rows with the twelve cells the replies give, numbered 0..{len(rows) - 1}")
    return rows, search_id, request


def check_request(lab, request, search_id, t0, t1, tool_ip=None):
    """The request as the camera host received it: from the tool's address on
    that LAN (tool_ip, default the first LAN's), naming that address."""
    tool_ip = tool_ip or lab.tool_ip
    data = request["data"]
    check(len(data) == 52, f"the discovery request has {len(data)} bytes, expected 52")
    check(request["dst"] == "255.255.255.255" and request["src"] == tool_ip,
          f"the request went from {request['src']} to {request['dst']}")
    expected = bytearray(52)
    expected[0:4] = camlab.REQUEST_MAGIC
    expected[12] = 2
    expected[13:13 + len(tool_ip)] = tool_ip.encode()
    expected[44:46] = b"\xba\x13"
    expected[48:52] = search_id.to_bytes(4, "little")
    check(data == bytes(expected), f"request bytes {data.hex()} differ from {bytes(expected).hex()}")
    check(search_id in camlab.draws_between(t0, t1),
          f"search ID {search_id} is not the time-seeded draw of the search's second")


# ---------------------------------------------------------------------------


def requests_on(lab, lan, mark):
    return [d for d in lab.captured(mark, lan) if not d["out"]
            and d["dport"] == camlab.COMMAND_PORT and d["data"][:4] == camlab.REQUEST_MAGIC]


def modify_records_on(lab, lan, mark):
    return [d for d in lab.captured(mark, lan) if not d["out"]
            and d["dport"] == camlab.COMMAND_PORT and d["data"][:4] == camlab.MODIFY_MAGIC]


def check_modify_record(lab, mark, t0, t1, mode, row, new_ip, lan=0, who="the camera host"):
    """The one modify record the camera host on `lan` received from capture
    line `mark` on (waited for up to 5 s): broadcast from the tool's address
    on that LAN, stamped with the time-seeded draw of a second between t0 and
    t1, byte-exact for the row's fields and the new IP. Returns its bytes."""
    deadline = time.monotonic() + 5
    records = []
    while not records and time.monotonic() < deadline:
        time.sleep(0.1)
        records = modify_records_on(lab, lan, mark)
    check(len(records) == 1, f"{who} received {len(records)} modify datagrams, expected 1")
    got = records[0]
    check(got["dst"] == "255.255.255.255" and got["src"] == lab.tool_ip_on(lan),
          f"the modify datagram went from {got['src']} to {got['dst']}")
    data = got["data"]
    check(len(data) == 88, f"the modify datagram has {len(data)} bytes, expected 88")
    stamp = int.from_bytes(data[84:88], "little")
    check(stamp in camlab.draws_between(t0, t1),
          f"stamp {stamp} is not the time-seeded draw of the second Modify was pressed")
    expected = camlab.modify_record(mode=mode, dev_id_text=row[1], ip=new_ip, mask=row[9],
                                    gateway=row[11], mac_text=row[5], stamp=stamp)
    check(data == expected, f"modify record\n  got      {data.hex()}\n  expected {expected.hex()}")
    return data


def scenario_search(lab, args):
    """Search lists every camera with its twelve cells, numbered in arrival
    order; searching again clears the list and lists the cameras again."""
    lab.start_display()
    lab.start_sniffer()
    lab.start_camsim(cameras=5)
    lab.start_app()
    window = MainWindow(lab)
    check(window.rows() == [], "the list is not empty at start")

    # The first search binds the receive port before its request leaves, so
    # the simulated cameras, which answer within a millisecond, are all listed.
    mark = lab.capture_mark()
    t0 = time.time()
    window.press("Search")
    _, search_id, request = assert_rows_match_replies(lab, window, 5, mark, "first search")
    check_request(lab, request, search_id, t0, time.time())

    time.sleep(1.1)  # a new second: a new search ID
    mark = lab.capture_mark()
    t0 = time.time()
    window.press("Search")
    _, search_id, request = assert_rows_match_replies(lab, window, 5, mark, "second search")
    check_request(lab, request, search_id, t0, time.time())
    check({r[3] for r in window.rows()} == {lab.camera_ip(i) for i in range(5)},
          "the IP cells are not the five simulated cameras' addresses")

    # Other cameras now: a search must show only them, numbered from 0.
    lab.stop_camsim()
    lab.start_camsim(cameras=3, first=10, name="camsim-b")
    time.sleep(1.1)
    mark = lab.capture_mark()
    window.press("Search")
    rows, _, _ = assert_rows_match_replies(lab, window, 3, mark, "third search")
    check({r[3] for r in rows} == {lab.camera_ip(10 + i) for i in range(3)},
          "the list still holds cameras of the earlier search")


def scenario_foreign(lab, args):
    """Replies of another search are not listed; a reply with the current
    search ID and no signature adds exactly one error log line, once for each
    of the search's requests (the first and its repeats) it answers."""
    lab.start_display()
    lab.start_sniffer()
    # Camera by camera: normal, wrong search ID, no signature, "Kelmora", normal.
    lab.start_camsim(cameras=5, modes=["normal", "wrong-search-id", "no-signature",
                                       "alt-signature"])
    lab.start_app()
    window = MainWindow(lab)
    error_log = os.path.join(lab.dir, "QDIPC_Error.log")

    window.search(3)  # until the worker runs and all three good replies are listed
    check(os.path.exists(error_log), "no error log was written for the unsigned reply")
    before = open(error_log, "rb").read().splitlines(keepends=True)

    time.sleep(1.1)
    mark = lab.capture_mark()
    t0 = time.time()
    window.press("Search")
    rows, search_id, _ = assert_rows_match_replies(lab, window, 3, mark, "search")
    t1 = time.time()
    listed_ips = [r[3] for r in rows]
    check(sorted(listed_ips) == sorted([lab.camera_ip(0), lab.camera_ip(3), lab.camera_ip(4)]),
          f"listed {listed_ips}: the wrong-search-ID or unsigned camera was listed")
    replies = camlab.replies_after(lab, mark, camlab.search_id_of_latest_request(lab, mark)[1])
    check(any(camlab.reply_search_id(r) == search_id + 1 for r in replies),
          "the cameras sent no reply with a wrong search ID")

    time.sleep(1.5)  # the search's repeats and their replies are over by now
    after = open(error_log, "rb").read().splitlines(keepends=True)
    check(after[:len(before)] == before, "the error log was rewritten, not appended to")
    new = after[len(before):]
    # The unsigned camera answers each of the search's requests (the first
    # and its repeats): one line per unsigned reply.
    requests = len(requests_on(lab, 0, mark))
    check(requests == 3 and len(new) == requests,
          f"one search ({requests} requests) added {len(new)} error log lines: {new}")
    for raw in new:
        line = raw.decode("latin-1")
        match = re.fullmatch(
            r"(\d+)-(\d+)-(\d+) (\d+):(\d+):(\d+) file:[^,]*,line:575,"
            r"\[recv discover not match qd massage\]\[111111\]\r?\n", line)
        check(match, f"the error log line {line!r} is not the unsigned-reply entry")
        stamp = datetime(*map(int, match.groups()), tzinfo=timezone.utc) - timedelta(hours=8)
        check(t0 - 2 <= stamp.timestamp() <= t1 + 3,
              f"the log line's time {line[:20]!r} is not the search's time in UTC+8")
    log(f"error log: one new line per request of the search ({requests}): {line.strip()!r}")


def scenario_modify(lab, args):
    """Double-click a row, change the IP, choose DHCP and press Modify: the
    camera receives the exact record, applies it, and a search shows it."""
    lab.start_display()
    lab.start_sniffer()
    lab.start_camsim(cameras=3)
    lab.start_app()
    window = MainWindow(lab)
    rows = window.search(3)
    row_index = 1
    row = rows[row_index]
    log(f"double-clicking row {row_index}: {row}")
    window.click_row(row_index, repeat=2)

    a11y = lab.a11y
    title = "Set：" + row[3]
    settings = a11y.find(window.app_acc, None, title, timeout=10, depth=1)
    edits = sorted(a11y.find_all(settings, "text", depth=3),
                   key=lambda e: a11y.extents(e)[1])
    check(len(edits) == 4, f"the settings window has {len(edits)} edits, expected 4")
    shown = [a11y.text(e) for e in edits]
    check(shown == [row[3], row[9], row[11], row[5]],
          f"the settings window shows IP, Mask, GateWay, MAC {shown}, expected "
          f"{[row[3], row[9], row[11], row[5]]}")
    radios = {r.name: r for r in a11y.find_all(settings, "radio button", depth=3)}
    check(set(radios) == {"Static IP", "DHCP", "ADSL"}, f"radio buttons {sorted(radios)}")
    check(a11y.checked(radios["Static IP"]) and not a11y.checked(radios["DHCP"]),
          "\"Static IP\" is not the checked addressing mode")

    new_ip = lab.camera_ip(60)
    lab.screen.click_center(a11y.extents(edits[0]))
    lab.screen.key("ctrl+a")
    lab.screen.type_text(new_ip)
    check(a11y.text(edits[0]) == new_ip, f"the IP edit holds {a11y.text(edits[0])!r}")
    lab.screen.click_center(a11y.extents(radios["DHCP"]))
    check(a11y.checked(radios["DHCP"]), "DHCP did not become checked")

    camsim_mark = lab.camsim.lines.count()
    mark = lab.capture_mark()
    t0 = time.time()
    modify = a11y.find(settings, "push button", "Modify", depth=3)
    lab.screen.click_center(a11y.extents(modify))
    box = window.message_box("Setting OK!")
    t1 = time.time()
    check(box.name == "qd_ip_search", f"the message box's caption is {box.name!r}")
    log("\"Setting OK!\" is shown")

    # What the camera host received.
    data = check_modify_record(lab, mark, t0, t1, 1, row, new_ip)
    log(f"the camera host received the exact 88-byte record {data.hex()}")

    applied = lab.camsim.lines.wait_for(rf"applied to camera {row_index} \({row[1]}\): "
                                        rf"ip \"{re.escape(new_ip)}\"", 5, camsim_mark)
    check(applied, "camsim did not apply the record: " +
          " | ".join(lab.camsim.lines.since(camsim_mark)))
    check(lab.camsim.lines.wait_for(r"modify from .* mode dhcp", 1, camsim_mark),
          "camsim did not see mode DHCP")
    log("camsim: " + applied)

    ok = a11y.find(box, "push button", "OK", depth=3)
    lab.screen.click_center(a11y.extents(ok))
    time.sleep(0.5)

    time.sleep(1.1)
    mark = lab.capture_mark()
    window.press("Search")
    rows_after, _, _ = assert_rows_match_replies(lab, window, 3, mark, "search after Modify")
    changed = [r for r in rows_after if r[1] == row[1]]
    check(len(changed) == 1 and changed[0][3] == new_ip,
          f"the modified camera's row is {changed}, expected IP {new_ip}")
    check(changed[0][2:3] + changed[0][4:] == row[2:3] + row[4:],
          "cells other than NO. and IP changed")
    log(f"the new search shows {row[1]} at {new_ip}")


def scenario_cli(lab, args):
    """The command line without a display: wrong arguments and settings that
    fail the checks send nothing;
    --list --format json finds exactly the cameras the window finds, with the
    same texts; --modify sends the window's record and --list then shows the
    camera's new IP."""
    import json
    lab.start_sniffer()
    lab.start_camsim(cameras=4)

    mark = lab.capture_mark()
    dev = "0011aabb-0000ff01"
    good = ["--modify", dev, "--ip", "10.1.1.1", "--mask", "255.0.0.0", "--gateway", "10.1.1.254",
            "--mac", "00:1a:2b:3c:4d:5e"]
    wrong = [
        (["-V", "--bogus"], "unknown option '--bogus'"),
        (["--list", "--verbose"], "unknown option '--verbose'"),
        (["--list", "--wait", "12x"], "--wait takes whole milliseconds"),
        (["--list", "--format", "xml"], "--format is tsv, csv or json"),
        ([*good[:1], "0011aabb-0000ff0", *good[2:]], "--modify needs a device ID"),
        ([*good[:3], "192.168.100.2001", *good[4:]], "longer than the 15 characters"),
        ([*good[:-1], "00:1a:2b:3c:4d"], "--mac needs six hex pairs"),
        (good[:-2], "--modify needs --mac"),
        ([*good, "--mode", "bootp"], "--mode is static, dhcp or adsl"),
        # Settings a camera cannot live on.
        ([*good[:3], "999.1.2.300", *good[4:]], "IP: 999.1.2.300 is not an IPv4 address"),
        ([*good[:3], "hello", "--mask", "nonsense", "--gateway", "", *good[8:]],
         "IP: hello is not an IPv4 address"),
        ([*good[:7], "192.168.1.1", *good[8:]],
         "Gateway: 192.168.1.1 is outside the IP's subnet 10.0.0.0/8"),
        ([*good[:-1], "01:00:5e:00:00:01"], "MAC: 01:00:5e:00:00:01 is a multicast address"),
        (["--list", "--interface", "nosuch0"], "no up, broadcast-capable IPv4 interface is named"),
        # A mistyped verb never opens the window; an echoed argument is escaped.
        (["--lsit"], "unknown option '--lsit'"),
        (["--no-firewall", "--frobnicate"], "unknown option '--frobnicate'"),
        ([*good[:3], "\x1b]2;x\x07", *good[4:]], "IP: \\x1b]2;x\\x07 is not an IPv4 address"),
        (["--plan", "/dev/zero"], "is larger than 16 MB"),
    ]
    for argv, message in wrong:
        result = lab.run_cli(*argv)
        check(result.returncode == 2 and result.stdout == "" and message in result.stderr
              and "\x1b" not in result.stderr and result.stderr.count("\n") == 1,
              f"{argv}: exit {result.returncode}, stdout {result.stdout!r}, "
              f"stderr {result.stderr!r}; expected exit 2 and {message!r}")
    time.sleep(0.5)  # anything sent would have reached the capture by now
    sent = [d for d in lab.captured(mark) if d["src"] == lab.tool_ip]
    check(not sent, f"wrong command lines sent {len(sent)} datagrams: {sent[:2]}")
    log(f"{len(wrong)} wrong command lines: exit code 2, a message, nothing on the wire")

    # Short options, a reader that has gone, a full disk.
    for option in ("-V", "-h"):
        result = lab.run_cli(option)
        check(result.returncode == 0 and result.stderr == ""
              and (result.stdout == "qd_ip_search 1.0.0.1\n" if option == "-V"
                   else result.stdout.startswith("Usage: qd_ip_search")),
              f"{option}: exit {result.returncode}, {result.stdout[:60]!r} {result.stderr!r}")
    for argv in (["--version"], ["--list", "--wait", "300"]):
        read_end, write_end = os.pipe()
        os.close(read_end)  # as after `| head -1` has read its line, or `| true`
        try:
            result = subprocess.run([lab.app_path, *argv], cwd=lab.dir, stdin=subprocess.DEVNULL,
                                    stdout=write_end, stderr=subprocess.PIPE, text=True,
                                    timeout=30)
        finally:
            os.close(write_end)
        check(result.returncode == 1 and "could not be written" not in result.stderr,
              f"{argv} into a closed pipe: exit {result.returncode} (1 expected, "
              f"141 is death by SIGPIPE), stderr {result.stderr!r}")
    # --modify finds its camera first: one of the simulated cameras, given
    # the settings it has, so that nothing on the LAN changes.
    found = json.loads(lab.run_cli("--list", "--format", "json", "--wait", "1000").stdout)
    mine = found[0]
    unchanged = ["--modify", mine["dev_id"], "--ip", mine["ip"], "--mask", mine["mask"],
                 "--gateway", mine["gateway"], "--mac", mine["mac"], "--verify-wait", "500"]
    with open("/dev/full", "w") as full:
        result = subprocess.run([lab.app_path, *unchanged], cwd=lab.dir,
                                stdin=subprocess.DEVNULL, stdout=full, stderr=subprocess.PIPE,
                                text=True, timeout=30)
    check(result.returncode == 1 and "could not be written" in result.stderr,
          f"--modify >/dev/full: exit {result.returncode}, {result.stderr!r}")
    log("-V, -h; a closed pipe ends --version and --list with 1, quietly; "
        "--modify >/dev/full exits 1")

    # Qt's own options open the window: -platform offscreen needs no display.
    window_run = lab.start("offscreen", [lab.app_path, "-platform", "offscreen", "--no-firewall"])
    time.sleep(2.0)
    check(window_run.popen.poll() is None,
          f"-platform offscreen ended with {window_run.popen.poll()} instead of showing the window")
    window_run.stop()
    log("-platform offscreen starts the window")

    def cli_list(label, *extra):
        mark = lab.capture_mark()
        t0 = time.time()
        result = lab.run_cli("--list", "--format", "json", "--wait", "1500", *extra)
        t1 = time.time()
        check(result.returncode == 0, f"{label}: exit {result.returncode}: {result.stderr}")
        records = json.loads(result.stdout)
        keys = camlab.JSON_KEYS + ["interface", "flags", "seen_via"]
        check(all(list(record) == keys for record in records),
              f"{label}: the keys are not {keys} in order: {records[:1]}")
        check(all(type(record[k]) is (int if k in camlab.JSON_NUMBERS else str)
                  for record in records for k in camlab.JSON_KEYS),
              f"{label}: no, port and web_port must be numbers, the rest texts: {records[:1]}")
        # Every camera answers on the tool's one LAN, inside its subnet, at
        # an address of its own: no flags.
        check(all(record["interface"] == interface and record["flags"] == []
                  for record in records),
              f"{label}: expected interface {interface!r} and no flags: {records}")
        rows = [[str(record[k]) for k in camlab.JSON_KEYS] for record in records]
        check(result.stderr == f"{len(rows)} cameras found\n",
              f"{label}: standard error says {result.stderr!r} for {len(rows)} cameras")
        search_id, index, request = camlab.search_id_of_latest_request(lab, mark)
        check_request(lab, request, search_id, t0, t1)
        expected = camlab.expected_rows(camlab.replies_after(lab, mark, index), search_id)
        check(rows == expected, f"{label}: printed\n  " + "\n  ".join(map(str, rows)) +
              "\nbut the replies give\n  " + "\n  ".join(map(str, expected)))
        return rows

    # The receive port is bound before the request leaves: one run lists all.
    addresses = subprocess.run(["ip", "-o", "-4", "addr", "show"], capture_output=True,
                               text=True, timeout=10).stdout.splitlines()
    interface = next(line.split()[1] for line in addresses
                     if line.split()[3].split("/")[0] == lab.tool_ip)
    cli_rows = cli_list("--list --interface " + interface, "--interface", interface)
    check(len(cli_rows) == 4, f"--list printed {len(cli_rows)} cameras, expected 4")
    log(f"--list --format json: the 4 cameras with the twelve cells their replies give")

    lab.start_display()
    lab.start_app()
    window = MainWindow(lab)
    window_rows = window.search(4)
    by_id = {r[1]: r[1:] for r in window_rows}
    check(len(window_rows) == 4 and by_id == {r[1]: r[1:] for r in cli_rows},
          f"the window lists\n  {window_rows}\nthe command line printed\n  {cli_rows}")
    log("the window lists the same 4 cameras with the same texts")
    lab.app.stop()  # frees the receive port for the next --list

    row = cli_rows[1]
    new_ip = lab.camera_ip(70)
    camsim_mark = lab.camsim.lines.count()
    mark = lab.capture_mark()
    t0 = time.time()
    result = lab.run_cli("--modify", row[1], "--ip", new_ip, "--mask", row[9], "--gateway",
                         row[11], "--mac", row[5], "--mode", "dhcp")
    t1 = time.time()
    check(result.returncode == 0 and
          result.stdout == f"Setting OK!\nConfirmed: {row[1]} at {new_ip}\n",
          f"--modify: exit {result.returncode}, {result.stdout!r} {result.stderr!r}")
    data = check_modify_record(lab, mark, t0, t1, 1, row, new_ip)
    check(lab.camsim.lines.wait_for(rf"applied to camera \d+ \({row[1]}\): "
                                    rf"ip \"{re.escape(new_ip)}\"", 5, camsim_mark),
          "camsim did not apply the record")
    log(f"--modify: \"Setting OK!\" and confirmed; the camera host received the exact record "
        f"{data.hex()}")

    time.sleep(1.1)  # a new second: a new search ID
    after = cli_list("--list after --modify")
    changed = [r for r in after if r[1] == row[1]]
    check(len(after) == 4 and len(changed) == 1 and changed[0][3] == new_ip,
          f"after --modify the camera's row is {changed}, expected IP {new_ip}")
    log(f"--list shows {row[1]} at {new_ip}")


def scenario_wine_cli(lab, args):
    """The Windows build's command line (qd_ip_search.com) under Wine on the
    virtual LAN: an unknown option is one line and exit 2; a non-ASCII
    interface name arrives whole; --list --format csv prints byte for byte
    what the cameras' replies give; --modify sends the window's record."""
    # Wine's own server creates the sockets, so it must run in this network
    # namespace: a prefix of the lab's own, its server stopped at the end.
    lab.env["WINEPREFIX"] = os.path.join(os.path.dirname(os.path.dirname(args.app)),
                                         "wineprefix-e2e")
    lab.env["LANG"] = "C.UTF-8"  # how Wine reads the arguments' bytes
    try:
        lab.start_sniffer()
        lab.start_camsim(cameras=4)

        # the first start may create the prefix
        result = lab.run_cli("--lsit", timeout=120)
        check(result.returncode == 2 and result.stderr.count("\n") == 1
              and "unknown option '--lsit'" in result.stderr,
              f"unknown option: exit {result.returncode}, {result.stderr!r}")
        result = lab.run_cli("--list", "--interface", "\u4ee5\u592a\u7f51")
        check(result.returncode == 2
              and "no up, broadcast-capable IPv4 interface is named '\u4ee5\u592a\u7f51'"
              in result.stderr,
              f"--interface with a Chinese name: exit {result.returncode}, {result.stderr!r}")
        log("unknown option: one line, exit 2; --interface \u4ee5\u592a\u7f51 is named in the message intact")

        mark = lab.capture_mark()
        t0 = time.time()
        result = lab.run_cli("--list", "--format", "csv", "--wait", "2000", raw=True, timeout=60)
        t1 = time.time()
        check(result.returncode == 0, f"--list: exit {result.returncode}: {result.stderr!r}")
        search_id, index, request = camlab.search_id_of_latest_request(lab, mark)
        check_request(lab, request, search_id, t0, t1)
        rows = camlab.expected_rows(camlab.replies_after(lab, mark, index), search_id)
        check(len(rows) == 4, f"the replies give {len(rows)} cameras, expected 4")

        def csv_field(text):
            return f'"{text.replace(chr(34), 2 * chr(34))}"' if any(c in text for c in ',"') \
                else text
        # The twelve cells, then how each was found (all by the native request).
        expected = "".join(",".join(map(csv_field, line)) + "\r\n"
                           for line in [[*camlab.COLUMNS, "Seen Via"],
                                        *[[*r, "native"] for r in rows]]).encode("utf-8")
        check(result.stdout == expected,
              f"--list --format csv printed\n  {result.stdout!r}\nexpected\n  {expected!r}")
        log("--list --format csv: the 4 cameras, byte for byte")

        row = rows[1]
        new_ip = lab.camera_ip(70)
        mark = lab.capture_mark()
        t0 = time.time()
        result = lab.run_cli("--modify", row[1], "--ip", new_ip, "--mask", row[9], "--gateway",
                             row[11], "--mac", row[5], "--mode", "dhcp", raw=True, timeout=60)
        t1 = time.time()
        # Sent, then confirmed by the camera's answer with its new address.
        expected = f"Setting OK!\nConfirmed: {row[1]} at {new_ip}\n".encode()
        check(result.returncode == 0 and result.stdout == expected,
              f"--modify: exit {result.returncode}, {result.stdout!r} {result.stderr!r}")
        data = check_modify_record(lab, mark, t0, t1, 1, row, new_ip)
        log(f"--modify: \"Setting OK!\" and confirmed; the camera host received the exact "
            f"record {data.hex()}")

        # The diagnosis on Windows: what its API answers is checked, the
        # Linux-only checks say "not_checked"; nothing is wrong on this LAN.
        import json
        result = lab.run_cli("--diagnose", "--format", "json", timeout=60)
        lines = {line["check"]: line for line in json.loads(result.stdout)}
        results = {name: line["result"] for name, line in lines.items()}
        check(result.returncode == 0 and
              results == {"interfaces": "ok", "link": "ok", "wifi": "ok", "port": "ok",
                          "firewalld": "not_checked", "ufw": "not_checked",
                          "firewall": "not_checked", "rp_filter": "not_checked",
                          "requests": "ok", "rejected": "ok", "replies": "ok",
                          # no ONVIF device on this LAN; Windows' firewall rules
                          # for the probes' port are not read
                          "onvif_probes": "ok", "onvif_replies": "not_checked"} and
              lines["replies"]["finding"] == "4 cameras answered",
              f"--diagnose under Wine: exit {result.returncode}, {lines}, {result.stderr!r}")
        log("--diagnose: the Windows checks ok, the others not checked, exit 0")
    finally:
        wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        if os.access(wineserver, os.X_OK):
            subprocess.run([wineserver, "-k"], env=lab.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def check_rows_field_by_field(rows, expected, label):
    """The rows shown against the rows expected, each cell compared on its own."""
    check(len(rows) == len(expected),
          f"{label}: {len(rows)} rows shown, expected {len(expected)}:\n  " +
          "\n  ".join(map(str, rows)))
    wrong = [f"row {i} {camlab.COLUMNS[c]}: shown {got[c]!r}, expected {want[c]!r}"
             for i, (got, want) in enumerate(zip(rows, expected))
             for c in range(len(camlab.COLUMNS)) if c >= len(got) or got[c] != want[c]]
    wrong += [f"row {i} has {len(got)} cells" for i, got in enumerate(rows)
              if len(got) != len(camlab.COLUMNS)]
    check(not wrong, f"{label}:\n  " + "\n  ".join(wrong))


def scenario_wine_window(lab, args):
    """The Windows window (qd_ip_search.exe) under Wine on the virtual LAN,
    driven from another process (win_window_driver): Search lists the rows
    the replies give, cell by cell; clicks on the IP header (real mouse
    input) sort by address value, up then down; a double-clicked row's
    settings window with a new IP sends the exact record, and the camera
    answers at that IP; ONVIF devices are listed beside the cameras; Esc ends
    the program. Then, at 192 DPI, the dialog,
    the list's rows and the font are twice their 96-DPI size and every
    button's caption fits its button."""
    import json
    # Wine's server creates the sockets and windows, so it runs in this
    # namespace: a prefix of this scenario's own (its DPI is changed), its
    # server stopped at the end.
    lab.env["WINEPREFIX"] = os.path.join(os.path.dirname(os.path.dirname(args.app)),
                                         "wineprefix-e2e-window")
    lab.env["LANG"] = "C.UTF-8"
    lab.env["QDIPC_WINE_KEEP_DISPLAY"] = "1"
    wine_run = os.path.join(SOURCE_ROOT, "scripts", "wine-run.sh")
    count = 12  # addresses .2 to .13: a sort by text would put .10 before .2

    def driver(*argv, timeout=30):
        # Its output goes to files, not pipes: a Wine process it starts (the
        # desktop's explorer.exe) inherits them and outlives it.
        command = "win_window_driver " + " ".join(map(str, argv))
        out_path, err_path = (os.path.join(lab.dir, f"driver.{name}") for name in ("out", "err"))
        with open(out_path, "wb") as out, open(err_path, "ab") as err:
            process = subprocess.Popen([wine_run, args.driver, *map(str, argv)], cwd=lab.dir,
                                       env=lab.env, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=err)
        try:
            code = process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(5)
            code = None
        with open(err_path, errors="replace") as err:
            said = err.read().strip().splitlines()[-5:]
        check(code is not None, f"{command} ran longer than {timeout} s: {said}")
        check(code == 0, f"{command}: exit {code}: {said}")
        with open(out_path) as out:
            return json.loads(out.read())

    def start_window():
        return lab.start("app", [wine_run, args.app, "--no-firewall"])

    def end_with_esc(app, label):
        driver("esc")
        try:
            code = app.popen.wait(15)
        except subprocess.TimeoutExpired:
            raise Failure(f"{label}: the program still runs 15 s after Esc")
        check(code == 0, f"{label}: the program ended with exit code {code} after Esc")

    def ip_value(row):
        return tuple(int(part) for part in row[3].split("."))

    try:
        started = time.monotonic()
        # room for the window at 200 %
        lab.start_display(accessibility=False, screen="2560x1600x24")
        driver("dpi", 96, timeout=120)  # the first run creates the prefix
        lab.start_sniffer()
        lab.start_camsim(cameras=count)
        app = start_window()

        mark = lab.capture_mark()
        t0 = time.time()
        rows = driver("search", count, timeout=90)["rows"]
        t1 = time.time()
        search_id, index, request = camlab.search_id_of_latest_request(lab, mark)
        check_request(lab, request, search_id, t0, t1)
        expected = wait_expected_rows(lab, mark, index, search_id, count)
        check_rows_field_by_field(rows, expected, "after Search")
        log(f"Search: {count} rows, every cell as the replies give it "
            f"({time.monotonic() - started:.1f} s after the start)")

        up = sorted(expected, key=ip_value)
        check_rows_field_by_field(driver("click-header", 3)["rows"], up, "IP header, first click")
        down = driver("click-header", 3)["rows"]
        check_rows_field_by_field(down, up[::-1], "IP header, second click")
        log("IP header: ascending, then descending by address value (real mouse clicks)")

        row = down[1]
        new_ip = lab.camera_ip(70)
        camsim_mark = lab.camsim.lines.count()
        mark = lab.capture_mark()
        t0 = time.time()
        modify = driver("modify", 1, new_ip)
        t1 = time.time()
        check(modify["title"] == "Set\uff1a" + row[3],
              f"the settings window is titled {modify['title']!r}")
        check([modify[k] for k in ("ip", "mask", "gateway", "mac")] ==
              [new_ip, row[9], row[11], row[5]],
              f"the settings window holds {modify}, expected {row}")
        check(modify["box"] == "Setting OK!" and modify["box_caption"] == "qd_ip_search",
              f"after Modify the box {modify['box_caption']!r} says {modify['box']!r}")
        mode = {"static": 0, "dhcp": 1, "adsl": 2}[modify["mode"]]
        data = check_modify_record(lab, mark, t0, t1, mode, row, new_ip)
        log(f"Modify: \"Setting OK!\"; the camera host received the exact record {data.hex()}")

        check(lab.camsim.lines.wait_for(rf"applied to camera \d+ \({row[1]}\): "
                                        rf"ip \"{re.escape(new_ip)}\"", 5, camsim_mark),
              "camsim did not apply the record")
        bar = driver("bar", "Confirmed")["bar"]
        answers = [camlab.reply_cells(d["data"]) for d in lab.captured(mark)
                   if d["out"] and d["dport"] == camlab.TOOL_PORT]
        check([row[1], new_ip] in [cells[0:3:2] for cells in answers],
              f"no reply of {row[1]} gives the IP {new_ip}: {answers}")
        shown = [r for r in driver("rows")["rows"] if r[1] == row[1]]
        check(len(shown) == 1 and shown[0][3] == new_ip,
              f"after the confirmation the camera's row is {shown}")
        log(f"the camera answers at {new_ip}; the bar says {bar!r}; its row shows it")

        # Two ONVIF devices join the cameras' rows beside the next search.
        onvif = lab.start_onvifsim(2, first=20, name="onvif-only")
        rows = driver("search", count + 2, timeout=60)["rows"]
        for i in range(2):
            number = lab.camera_base(20) + i
            found = [r for r in rows if r[3] == lab.camera_ip(20 + i)]
            check(len(found) == 1 and found[0][2] == f"onvif cam #{number}" and
                  found[0][7] == f"NVT-{number}" and found[0][1] == "" and found[0][4] == "",
                  f"ONVIF device {i}: {found}")
        check(len([r for r in rows if r[1]]) == count, f"the cameras' rows: {rows}")
        onvif.stop()
        log("Search: the two ONVIF devices are listed beside the cameras")

        at96 = driver("measure")
        end_with_esc(app, "96 DPI")
        log("Esc: the program ended with exit code 0")

        driver("dpi", 192)
        app = start_window()
        check(len(driver("search", count, timeout=60)["rows"]) == count, "192 DPI: rows missing")
        at192 = driver("measure")
        end_with_esc(app, "192 DPI")
        log(f"96 DPI: {at96}\n192 DPI: {at192}")
        check(at96["dpi"] == 96 and at192["dpi"] == 192,
              f"the window's DPI is {at96['dpi']} and {at192['dpi']}, expected 96 and 192")

        def ratio(key, index=None):
            a = at96[key] if index is None else at96[key][index]
            b = at192[key] if index is None else at192[key][index]
            return b / a if a else 0.0

        for what, value, low, high in (("client width", ratio("client", 0), 1.9, 2.1),
                                       ("client height", ratio("client", 1), 1.9, 2.1),
                                       ("IP column's width", ratio("ip_column"), 1.95, 2.05),
                                       ("row height", ratio("row_height"), 1.6, 2.4),
                                       ("text height", ratio("text_height"), 1.7, 2.3)):
            check(low <= value <= high, f"192 DPI: the {what} is {value:.2f} times its "
                  f"96-DPI size, expected {low}..{high}")
        for at in (at96, at192):
            check(at["row_height"] >= at["text_height"],
                  f"{at['dpi']} DPI: rows {at['row_height']} px high for text "
                  f"{at['text_height']} px")
            clipped = [f"{b['caption']!r} {b['extent'][0]}x{b['extent'][1]} in "
                       f"{b['client'][0]}x{b['client'][1]}" for b in at["buttons"]
                       if b["extent"][0] + 4 > b["client"][0] or b["extent"][1] > b["client"][1]]
            check(not clipped, f"{at['dpi']} DPI: captions clipped by their buttons: {clipped}")
        log("192 DPI: dialog, columns, rows and font twice as large; every caption fits its "
            f"button ({time.monotonic() - started:.1f} s in all)")
    finally:
        wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        if os.access(wineserver, os.X_OK):
            subprocess.run([wineserver, "-k"], env=lab.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def scenario_preview(lab, args):
    """Click a row and press Preview: the test pattern plays in the pane;
    --snapshot writes a PNG of the stream's size without a display."""
    lab.start_display()
    lab.start_camsim(cameras=2)
    lab.start_rtsp(lab.camera_ip(0))
    lab.start_app()
    window = MainWindow(lab)
    rows = window.search(2)
    region = window.video_region()
    check(region.black_fraction() > 0.97, "the pane is not black before Preview")
    row = next(i for i, r in enumerate(rows) if r[3] == lab.camera_ip(0))
    window.click_row(row)
    window.press("Preview")
    region = window.wait_for_video()
    log(f"the pane plays the test pattern: black fraction {region.black_fraction():.2f}, "
        f"{len(region.colour_classes())} colour classes")
    # The command line keeps a picture of the same camera without a display:
    # a PNG of the stream's own 320 x 240.
    png = os.path.join(lab.dir, "camera.png")
    result = lab.run_cli("--snapshot", lab.camera_ip(0), png)
    check(result.returncode == 0,
          f"--snapshot exited with {result.returncode}: {result.stderr.strip()}")
    check(result.stdout == f"{png}: 320x240 picture of {lab.camera_ip(0)}\n",
          f"--snapshot printed {result.stdout!r}")
    check(png_size(png) == (320, 240), f"the snapshot is {png_size(png)}, not 320 x 240")
    if args.screenshot:
        lab.screen.screenshot(args.screenshot, window.window)


def png_size(path):
    """(width, height) from a PNG file's IHDR chunk, or None for no PNG."""
    import struct
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def preview_camera(lab, window, cameras, index):
    """Searches, clicks the row of camera `index` and presses Preview."""
    rows = window.search(cameras)
    row = next(i for i, r in enumerate(rows) if r[3] == lab.camera_ip(index))
    window.click_row(row)
    window.press("Preview")


def scenario_preview_reasons(lab, args):
    """Without a picture the pane says why, in one line read through the
    accessibility tree: a camera with no RTSP service refuses, an address
    without a host does not answer (--snapshot names the refusal too, and
    writes nothing); closing the window ends the program in time all the
    same."""
    lab.start_display()
    lab.start_camsim(cameras=2)  # camera 1's address has no host on the LAN
    app = lab.start_app()
    window = MainWindow(lab)
    preview_camera(lab, window, 2, 0)
    window.wait_pane_text(
        f"No picture: {lab.camera_ip(0)} refused the connection on RTSP port 554")
    # The command line says the same, and writes nothing.
    png = os.path.join(lab.dir, "refused.png")
    result = lab.run_cli("--snapshot", lab.camera_ip(0), png)
    check(result.returncode == 1 and result.stderr == "qd_ip_search: No picture: "
          f"{lab.camera_ip(0)} refused the connection on RTSP port 554\n",
          f"--snapshot of a refusing camera: {result.returncode} {result.stderr!r}")
    check(not os.path.exists(png), "--snapshot wrote a file without a picture")
    window.click_row(next(i for i, r in enumerate(window.rows()) if r[3] == lab.camera_ip(1)))
    window.press("Preview")
    window.wait_pane_text(f"No picture: no answer from {lab.camera_ip(1)}", timeout=20)
    check_ends_on_close(lab, app, window, args.close_bound)


def scenario_preview_login(lab, args):
    """A camera that asks for a user name and password: the pane says so and
    a prompt asks for them (--snapshot says a password is needed); with the
    right ones the picture comes and the line goes; a second Preview asks no
    more; nothing of them reaches the error log."""
    user, password = "viewer", "s3cret:/@x"
    lab.start_display()
    lab.start_camsim(cameras=1)
    lab.start_rtsp(lab.camera_ip(0), 240, "--credentials", f"{user}:{password}")
    app = lab.start_app()
    window = MainWindow(lab)
    preview_camera(lab, window, 1, 0)
    window.wait_pane_text(f"No picture: {lab.camera_ip(0)} asks for a user name and password")
    result = lab.run_cli("--snapshot", lab.camera_ip(0), os.path.join(lab.dir, "login.png"))
    check(result.returncode == 1 and result.stderr == "qd_ip_search: No picture: "
          f"{lab.camera_ip(0)} asks for a user name and password\n",
          f"--snapshot of a camera that asks for a password: {result.returncode} "
          f"{result.stderr!r}")
    a11y = lab.a11y
    prompt = a11y.find(window.app_acc, None, "Camera login", timeout=10, depth=1)
    for role, name, text in (("text", "User name", user),
                             ("password text", "Password", password)):
        lab.screen.click_center(a11y.extents(a11y.find(prompt, role, name, depth=3)))
        lab.screen.type_text(text)
    lab.screen.click_center(a11y.extents(a11y.find(prompt, "push button", "OK", depth=3)))
    window.wait_for_video()
    window.wait_pane_text("")
    window.press("Preview")
    window.wait_for_video()
    check(not a11y.find_all(window.app_acc, None, "Camera login", depth=1),
          "the prompt came again for a camera whose password was given")
    log_path = os.path.join(lab.dir, "QDIPC_Error.log")
    if os.path.exists(log_path):
        with open(log_path, "rb") as f:
            check(password.encode() not in f.read(), "the password is in the error log")
    check_ends_on_close(lab, app, window, args.close_bound)


def scenario_preview_hijack(lab, args):
    """A row whose IP text names one camera before ':' and another host after
    '@' ("A:1@B"): with a password stored for camera A, previewing that row
    connects to nothing, sends B no Authorization and asks no password in A's
    name; the pane says the camera reports no valid IP address."""
    user, password = "viewer", "s3cret"
    lab.start_display()
    camera_a, host_b = lab.camera_ip(3), lab.camera_ip(4)  # .5 and .6
    hostile = f"{camera_a}:1@{host_b}"
    lab.start_camsim(cameras=2, first=3, extra=("--ip-text", f"1={hostile}"))
    lab.start_rtsp(camera_a, 240, "--credentials", f"{user}:{password}", bind=camera_a)
    logger = lab.start_rtsplog(host_b)
    app = lab.start_app()
    window = MainWindow(lab)
    rows = window.search(2)
    check(sorted(r[3] for r in rows) == sorted([camera_a, hostile]),
          f"the rows' IPs are {[r[3] for r in rows]}")
    window.click_row(next(i for i, r in enumerate(rows) if r[3] == camera_a))
    window.press("Preview")
    window.wait_pane_text(f"No picture: {camera_a} asks for a user name and password")
    a11y = lab.a11y
    prompt = a11y.find(window.app_acc, None, "Camera login", timeout=10, depth=1)
    for role, name, text in (("text", "User name", user),
                             ("password text", "Password", password)):
        lab.screen.click_center(a11y.extents(a11y.find(prompt, role, name, depth=3)))
        lab.screen.type_text(text)
    lab.screen.click_center(a11y.extents(a11y.find(prompt, "push button", "OK", depth=3)))
    window.wait_for_video()
    log(f"{camera_a} plays with the password given")

    mark = logger.lines.count()
    window.click_row(next(i for i, r in enumerate(window.rows()) if r[3] == hostile))
    window.press("Preview")
    window.wait_pane_text("No picture: the camera reports no valid IP address")
    time.sleep(3)  # time for a connection, had one been made
    check(not a11y.find_all(window.app_acc, None, "Camera login", depth=1),
          "a login prompt came for the hostile row")
    received = logger.lines.since(mark)
    check(not any("Authorization" in line for line in received),
          f"{host_b} received credentials: {received}")
    check(not received, f"{host_b} was connected to: {received}")
    log(f"{host_b} received nothing; the pane names no host")
    check_ends_on_close(lab, app, window, args.close_bound)


def scenario_markup(lab, args):
    """A camera whose IP text is markup: the list, the pane's reason, the
    settings window's title and its warning box show it as text, read back
    verbatim through the accessibility tree (a label Qt renders as rich text
    is read as the rendered text, without its tags)."""
    markup = "<h1>X"
    lab.start_display()
    lab.start_camsim(cameras=1, extra=("--ip-text", f"0={markup}"))
    app = lab.start_app()
    window = MainWindow(lab)
    rows = window.search(1)
    check(rows[0][3] == markup, f"the list shows the IP {rows[0][3]!r}")
    window.click_row(0)
    window.press("Preview")
    window.wait_pane_text("No picture: the camera reports no valid IP address")
    window.click_row(0, repeat=2)
    a11y = lab.a11y
    settings = a11y.find(window.app_acc, None, "Set：" + markup, timeout=10, depth=1)
    lab.screen.click_center(a11y.extents(a11y.find(settings, "push button", "Modify", depth=3)))
    shown, box = [], None
    deadline = time.monotonic() + 10
    while not shown and time.monotonic() < deadline:
        for top in a11y.children(window.app_acc):
            if top.name == "Search Tool" or top.name.startswith("Set"):
                continue
            labels = [label.name for label in a11y.find_all(top, "label", depth=4)
                      if "IPv4" in label.name or "IP:" in label.name]
            if labels:
                shown, box = labels, top
        time.sleep(0.2)
    check(shown and all(markup in text for text in shown),
          f"the warning box says {shown}, without the text {markup!r}")
    log(f"the warning box says {shown[0]!r}")
    lab.screen.click_center(a11y.extents(a11y.find(box, "push button", "OK", depth=3)))
    check_ends_on_close(lab, app, window, args.close_bound)


def scenario_preview_stopped(lab, args):
    """A stream that goes silent while it plays: the pane says so."""
    lab.start_display()
    lab.start_camsim(cameras=1)
    lab.start_rtsp(lab.camera_ip(0), 240, "--stop-after", 4)
    app = lab.start_app()
    window = MainWindow(lab)
    preview_camera(lab, window, 1, 0)
    window.wait_for_video()
    check(window.pane_text() == "", f"the pane says {window.pane_text()!r} while it plays")
    window.wait_pane_text("Stream stopped", timeout=20)
    check_ends_on_close(lab, app, window, args.close_bound)


def scenario_layout(lab, args):
    """A 640 x 480 client area puts the controls where the layout rules say:
    the pane and the buttons keep the form's size (504 x 470), the list takes
    the extra width and height."""
    lab.start_display()
    lab.start_app()
    window = MainWindow(lab)
    lab.screen.resize(window.window, 640, 480)
    deadline = time.monotonic() + 5
    expected = {
        "Preview": (414, 10, 80, 43), "Setting": (414, 63, 80, 43),
        "Test": (414, 116, 80, 43), "Search": (414, 169, 80, 43),
        "pane": (10, 10, 394, 205), "list": (10, 235, 620, 220),
        "progress": (10, 455, 620, 20),
    }

    def measure():
        a11y = lab.a11y
        got = {name: window.relative(a11y.extents(window.button(name)))
               for name in ("Preview", "Setting", "Test", "Search")}
        got["pane"] = window.relative(a11y.extents(window.pane()))
        got["list"] = window.relative(a11y.extents(window.table()))
        got["progress"] = window.relative(
            a11y.extents(a11y.find(window.acc, "progress bar", depth=1)))
        return got

    got = measure()
    while got != expected and time.monotonic() < deadline:
        time.sleep(0.2)
        got = measure()
    size = lab.screen.geometry(window.window)[2:]
    check(size == (640, 480), f"the window's client area is {size}, expected (640, 480)")
    wrong = {k: (got[k], v) for k, v in expected.items() if got[k] != v}
    check(not wrong, "controls (got, expected): " + str(wrong))
    log("at 640 x 480 every control is where the layout rules put it")

    # The pane's black area, seen on the screen: black inside, not outside.
    ox, oy = window.origin()
    region = camlab.Region(lab.screen.grab(), (ox, oy, 640, 480))
    for x, y in ((10, 10), (403, 10), (10, 214), (403, 214), (200, 110)):
        check(max(region.pixel(x, y)) < 24, f"pixel ({x}, {y}) of the pane is not black")
    for x, y in ((5, 5), (409, 110), (200, 225)):
        check(max(region.pixel(x, y)) > 100, f"pixel ({x}, {y}) outside the pane is dark")
    log("the black pane covers (10, 10) to (403, 214) on the screen")


def check_ends_on_close(lab, app, window, bound, condition=""):
    """Closes the main window: the program ends within `bound` seconds, with
    exit code 0."""
    t0 = time.monotonic()
    lab.screen.close_window(window.window)
    try:
        code = app.popen.wait(timeout=bound)
    except subprocess.TimeoutExpired:
        raise Failure(f"the program still runs {bound} s after its window was closed{condition}")
    elapsed = time.monotonic() - t0
    log(f"the program ended {elapsed:.2f} s after the close request, exit code {code}")
    check(code == 0, f"exit code {code}, expected 0")


def scenario_close(lab, args):
    """Closing the window while a stream plays ends the program at once with
    exit code 0."""
    lab.start_display()
    lab.start_camsim(cameras=1)
    lab.start_rtsp(lab.camera_ip(0))
    app = lab.start_app()
    window = MainWindow(lab)
    window.search(1)
    window.click_row(0)
    window.press("Preview")
    window.wait_for_video()
    log("a stream plays; closing the window")
    check_ends_on_close(lab, app, window, args.close_bound)


def scenario_twolan(lab, args):
    """A tool host on two networks, its default route on the first: the first
    search lists the cameras of both, each network's request names the tool's
    address on it, and a modify for a camera of the second network goes out
    there (and only there), byte-exact."""
    check(len(lab.lans) == 2, "the second camera LAN is missing")
    lab.start_display()
    for lan in (0, 1):
        lab.start_sniffer(lan=lan)
    lab.start_camsim(cameras=3, lan=0)
    lab.start_camsim(cameras=3, lan=1, name="camsim-lan2")
    camsim_b = lab.camsim
    lab.start_app()
    window = MainWindow(lab)

    marks = [lab.capture_mark(lan) for lan in (0, 1)]
    t0 = time.time()
    window.press("Search")
    rows = window.wait_rows(6)
    t1 = time.time()
    expected, search_ids = [], set()
    for lan in (0, 1):
        search_id, index, request = camlab.search_id_of_latest_request(lab, marks[lan], lan=lan)
        check_request(lab, request, search_id, t0, t1, tool_ip=lab.tool_ip_on(lan))
        sent = {d["data"] for d in requests_on(lab, lan, marks[lan])}
        check(len(sent) == 1, f"LAN {lan + 1} received {len(sent)} different discovery requests")
        search_ids.add(search_id)
        replies = wait_expected_rows(lab, marks[lan], index, search_id, 3, lan)
        check(len(replies) == 3, f"LAN {lan + 1}'s cameras sent {len(replies)} replies")
        expected += [r[1:] for r in replies]
        log(f"LAN {lan + 1}: requests from {request['src']} naming {lab.tool_ip_on(lan)}, "
            f"{len(requests_on(lab, lan, marks[lan]))} of them, byte for byte the same")
    check(len(search_ids) == 1, f"the two requests carry different search IDs {search_ids}")
    check([r[0] for r in rows] == [str(i) for i in range(6)],
          f"the first search listed {[r[0] for r in rows]}, expected six rows numbered 0..5")
    check(sorted(r[1:] for r in rows) == sorted(expected),
          "the list shows\n  " + "\n  ".join(map(str, rows)) +
          "\nbut the replies of both LANs give\n  " + "\n  ".join(map(str, expected)))
    log("the first search lists the three cameras of each LAN with the cells their replies give")

    # Modify a camera of the second LAN from its settings window.
    row_index = next(i for i, r in enumerate(rows) if r[3] == lab.camera_ip(1, lan=1))
    row = rows[row_index]
    window.click_row(row_index, repeat=2)
    a11y = lab.a11y
    settings = a11y.find(window.app_acc, None, "Set：" + row[3], timeout=10, depth=1)
    edits = sorted(a11y.find_all(settings, "text", depth=3), key=lambda e: a11y.extents(e)[1])
    check(len(edits) == 4, f"the settings window has {len(edits)} edits, expected 4")
    new_ip = lab.camera_ip(60, lan=1)
    lab.screen.click_center(a11y.extents(edits[0]))
    lab.screen.key("ctrl+a")
    lab.screen.type_text(new_ip)
    check(a11y.text(edits[0]) == new_ip, f"the IP edit holds {a11y.text(edits[0])!r}")

    camsim_mark = camsim_b.lines.count()
    marks = [lab.capture_mark(lan) for lan in (0, 1)]
    t0 = time.time()
    lab.screen.click_center(a11y.extents(a11y.find(settings, "push button", "Modify", depth=3)))
    box = window.message_box("Setting OK!")
    t1 = time.time()
    check_modify_record(lab, marks[1], t0, t1, 0, row, new_ip, lan=1, who="LAN 2")
    applied = camsim_b.lines.wait_for(rf"applied to camera 1 \({row[1]}\): "
                                      rf"ip \"{re.escape(new_ip)}\"", 5, camsim_mark)
    check(applied, "the camera on LAN 2 did not apply the record: " +
          " | ".join(camsim_b.lines.since(camsim_mark)))
    # By now a copy sent out of the first LAN would have been captured there.
    time.sleep(0.5)
    stray = modify_records_on(lab, 0, marks[0])
    check(not stray, f"the modify also went out on LAN 1: {[d['src'] for d in stray]}")
    log(f"the camera on LAN 2 received the exact record from {lab.tool_ip_on(1)}; LAN 1 received none")
    lab.screen.click_center(a11y.extents(a11y.find(box, "push button", "OK", depth=3)))


def scenario_close_log(lab, args):
    """With a FIFO nobody reads as the error log, unsigned replies block the
    log's writer; closing the window still ends the program at once with exit
    code 0, and the search lists the signed cameras meanwhile."""
    os.mkfifo(os.path.join(lab.dir, "QDIPC_Error.log"))
    lab.start_display()
    lab.start_camsim(cameras=4, modes=["normal", "no-signature"])
    app = lab.start_app()
    window = MainWindow(lab)
    window.search(2)  # cameras 0 and 2; 1 and 3 send unsigned replies
    log("two cameras listed while the log's writer is blocked; closing the window")
    check_ends_on_close(lab, app, window, args.close_bound, " with the log's writer blocked")


FACTORY_NETWORK = "192.168.1.64/24"
FACTORY_IP = FACTORY_NETWORK.split("/")[0]


def start_factory_lab(lab, factory=20, configured=2, first_configured=20):
    """Twenty cameras fresh from the factory, all at one address, and two
    configured cameras inside the LAN's range; answers the factory cameras'
    simulator and the configured ones' addresses."""
    # Like real cameras they restart their network after taking a record and
    # answer nothing for a second.
    lab.start_camsim(factory, first=100, name="camsim-factory",
                     extra=("--factory", FACTORY_NETWORK, "--restart-ms", 1000))
    factory_sim = lab.camsim
    lab.start_camsim(configured, first=first_configured, name="camsim-configured")
    return factory_sim, [lab.camera_ip(first_configured + i) for i in range(configured)]


def check_assigned(lab, rows, new_ips, taken, label):
    """A search's rows after an assignment: every camera answers at its planned
    address, no two share one, and the configured ones kept theirs."""
    ips = [r[3] for r in rows]
    check(len(set(ips)) == len(ips), f"{label}: cameras share addresses: {sorted(ips)}")
    check(FACTORY_IP not in ips, f"{label}: a camera still answers at {FACTORY_IP}")
    check(set(new_ips) <= set(ips), f"{label}: planned {sorted(set(new_ips) - set(ips))} "
          f"not answered")
    check(not set(new_ips) & set(taken), f"{label}: the plan took a configured address")
    check(set(taken) <= set(ips), f"{label}: a configured camera lost its address")


def planned_range(lab, start, count, taken):
    out, host = [], start
    while len(out) < count:
        ip = f"{lab.prefix}.{host}"
        if ip not in taken:
            out.append(ip)
        host += 1
    return out


def scenario_assign(lab, args):
    """Select the twenty factory cameras, open Assign Addresses from the row
    menu, start just below the configured cameras and Apply: every Result ends
    "confirmed", the addresses are distinct and skip the configured ones."""
    lab.start_display()
    lab.start_sniffer()
    factory_sim, taken = start_factory_lab(lab)
    lab.start_app()
    window = MainWindow(lab)
    rows = window.search(22)
    a11y, screen = lab.a11y, lab.screen

    # Sorted by IP the configured cameras come first; Ctrl+A selects every
    # row and a Ctrl+click takes each configured one out again.
    header = a11y.find(window.table(), "table column header", "IP", timeout=5, depth=2)
    screen.click_center(a11y.extents(header))
    rows = window.rows()
    check([r[3] for r in rows[2:]] == [FACTORY_IP] * 20 and sorted(r[3] for r in rows[:2]) == taken,
          f"sorted by IP the list shows {[r[3] for r in rows]}")
    window.click_row(2)
    screen.key("ctrl+a")
    for row in (0, 1):
        screen.click_with("ctrl", a11y.extents(a11y.cell(window.table(), row, 3)))
    # The row menu (a popup the accessibility tree does not show): its first
    # entry is "Assign Addresses…".
    screen.click_with(None, a11y.extents(a11y.cell(window.table(), 2, 3)), button=3)
    time.sleep(0.5)
    screen.key("Down")
    screen.key("Return")

    dialog = a11y.find(window.app_acc, None, "Assign Addresses", timeout=10, depth=1)
    edits = sorted(a11y.find_all(dialog, "text", depth=4), key=lambda e: a11y.extents(e)[1])
    check(len(edits) == 3, f"the dialog has {len(edits)} edits, expected 3")
    start, mask, gateway = (a11y.text(e) for e in edits)
    log(f"prefilled: Start IP {start!r}, Mask {mask!r}, Gateway {gateway!r}")
    check(mask == "255.255.255.0", f"Mask is prefilled {mask!r}, the LAN's is 255.255.255.0")
    check(start.startswith(lab.prefix + "."), f"Start IP {start!r} is not on {lab.prefix}.0/24")

    first = int(taken[0].split(".")[3]) - 2
    for edit, text in ((edits[0], f"{lab.prefix}.{first}"), (edits[2], f"{lab.prefix}.254")):
        screen.click_center(a11y.extents(edit))
        screen.key("ctrl+a")
        screen.type_text(text)
    expected = planned_range(lab, first, 20, taken)
    table = a11y.find(dialog, "table", timeout=5)
    plan = a11y.table_rows(table)
    check([r[3] for r in plan] == expected,
          f"the plan shows {[r[3] for r in plan]}, expected {expected}")
    # Columns: Dev ID, MAC, IP, New IP, Mask, Gateway, Mode, Result, Reason.
    check(all(r[2] == FACTORY_IP and r[6] == "static" and r[7] == ""
              for r in plan), f"plan rows {plan[:2]}")
    log(f"the plan: {expected[0]} .. {expected[-1]}, skipping {taken}")

    camsim_mark = factory_sim.lines.count()
    screen.click_center(a11y.extents(a11y.find(dialog, "push button", "Apply", depth=4)))
    deadline = time.monotonic() + 20
    results = []
    while time.monotonic() < deadline:
        results = [r[7] for r in a11y.table_rows(table)]
        if all(r in ("confirmed", "not confirmed", "not sent") for r in results):
            break
        time.sleep(0.3)
    check(results == ["confirmed"] * 20, f"the Result column ends {results}")
    applied = [line for line in factory_sim.lines.since(camsim_mark) if "applied to camera" in line]
    check(len(applied) == 20, f"camsim applied {len(applied)} records, expected 20")
    log("every Result is \"confirmed\"")

    screen.click_center(a11y.extents(a11y.find(dialog, "push button", "Close", depth=4)))
    rows_after = window.search(22)
    check_assigned(lab, rows_after, expected, taken, "the list after Assign")
    log("a new search lists the twenty cameras at their new, distinct addresses")


def scenario_assign_cli(lab, args):
    """The same batch through the command line: a dry run plans and sends
    nothing; --assign gives the twenty factory cameras distinct addresses
    around the configured ones, every one confirmed; --plan moves them again
    from a CSV file; a faulty plan sends nothing, a missing camera is
    not_found."""
    import csv
    import io
    import json
    lab.start_sniffer()
    factory_sim, taken = start_factory_lab(lab)
    first = int(taken[0].split(".")[3]) - 2
    expected = planned_range(lab, first, 20, taken)
    assign = ["--assign", "--from", f"{lab.prefix}.{first}", "--mask", "255.255.255.0",
              "--gateway", f"{lab.prefix}.254", "--select-ip", FACTORY_IP]

    def modify_records_since(mark):
        return [d for d in lab.captured(mark)
                if d["src"] == lab.tool_ip and d["data"][:4] == camlab.MODIFY_MAGIC]

    mark = lab.capture_mark()
    dry = lab.run_cli(*assign, "--dry-run", "--format", "json")
    check(dry.returncode == 0, f"--dry-run: exit {dry.returncode}: {dry.stderr}")
    records = json.loads(dry.stdout)
    check([list(r) for r in records[:1]] ==
          [["dev_id", "mac", "ip", "new_ip", "new_mask", "new_gateway", "mode", "result",
            "reason"]], f"--dry-run keys {records[:1]}")
    check(all(r["new_mask"] == "255.255.255.0" and r["mode"] == "static" for r in records),
          f"the dry run shows no mask or mode: {records}")
    check([r["new_ip"] for r in records] == expected and
          all(r["result"] == "planned" and r["ip"] == FACTORY_IP for r in records),
          f"--dry-run planned {[(r['new_ip'], r['result']) for r in records]}")
    time.sleep(0.5)
    check(not modify_records_since(mark), "the dry run sent modify records")
    log(f"--dry-run: 20 cameras planned {expected[0]} .. {expected[-1]}, nothing sent")

    mark = lab.capture_mark()
    camsim_mark = factory_sim.lines.count()
    result = lab.run_cli(*assign, "--format", "csv")
    check(result.returncode == 0, f"--assign: exit {result.returncode}: {result.stderr}")
    rows = list(csv.reader(io.StringIO(result.stdout)))
    check(rows[0] == ["dev_id", "mac", "ip", "new_ip", "new_mask", "new_gateway", "mode",
                      "result", "reason"] and len(rows) == 21,
          f"--assign printed {rows[:2]} ({len(rows)} lines)")
    check([r[3] for r in rows[1:]] == expected and all(r[7] == "confirmed" for r in rows[1:]),
          f"--assign results {[(r[3], r[7]) for r in rows[1:]]}")
    check(len(modify_records_since(mark)) == 20, "--assign did not send 20 records")
    applied = [x for x in factory_sim.lines.since(camsim_mark) if "applied to camera" in x]
    check(len(applied) == 20, f"camsim applied {len(applied)} records")
    log(f"--assign: 20 cameras confirmed; {result.stderr.strip()!r}")

    listed = lab.run_cli("--list", "--wait", "1500")
    list_rows = [line.split("\t") for line in listed.stdout.splitlines()[1:]]
    check_assigned(lab, list_rows, expected, taken, "--list after --assign")

    # A plan file: the same cameras by device ID (one by MAC), quoted fields,
    # another range; a faulty line first sends nothing.
    ids = [r[0] for r in rows[1:]]
    macs = [r[1] for r in rows[1:]]
    moved = [f"{lab.prefix}.{100 + i}" for i in range(20)]
    bad = os.path.join(lab.dir, "bad.csv")
    with open(bad, "w") as f:
        f.write("dev_id,ip,mask,gateway\n")
        f.write(f"{ids[0]},{moved[0]},255.255.255.0,{lab.prefix}.254\n")
        f.write(f"{ids[1]},{lab.prefix}.255,255.255.255.0,{lab.prefix}.254\n")
    mark = lab.capture_mark()
    result = lab.run_cli("--plan", bad)
    check(result.returncode == 2 and "line 3, column ip" in result.stderr and not result.stdout,
          f"a faulty plan: exit {result.returncode}, {result.stderr!r}")
    time.sleep(0.5)
    check(not modify_records_since(mark), "a faulty plan sent modify records")
    log(f"a faulty plan: exit 2, {result.stderr.strip()!r}, nothing sent")

    good = os.path.join(lab.dir, "plan.csv")
    with open(good, "w", newline="") as f:
        f.write("Dev_ID,mac,\"ip\",mask,gateway,mode\r\n")
        for i in range(20):
            who = f",{macs[i]}" if i == 7 else f"{ids[i]},"
            f.write(f"{who},\"{moved[i]}\",255.255.255.0,{lab.prefix}.254,static\r\n")
        f.write(f"7164736d-7fffffff,,{lab.prefix}.200,255.255.255.0,{lab.prefix}.254,\r\n")
    result = lab.run_cli("--plan", good, "--format", "json", "--verify-wait", "8000")
    check(result.returncode == 3, f"--plan with a missing camera: exit {result.returncode}: "
          f"{result.stderr}")
    records = json.loads(result.stdout)
    check([r["new_ip"] for r in records[:20]] == moved and
          all(r["result"] == "confirmed" for r in records[:20]),
          f"--plan results {[(r['new_ip'], r['result']) for r in records[:20]]}")
    check(records[20]["result"] == "not_found" and records[20]["dev_id"] == "7164736d-7fffffff",
          f"--plan's missing camera: {records[20:]}")
    log("--plan: 20 cameras confirmed at their planned addresses, the missing one not_found, "
        "exit 3")


def scenario_confirm(lab, args):
    """Cameras that restart their network for a second after taking a record:
    a window Modify shows the wait on the progress bar and ends with
    "Confirmed", the row updated in place with the camera's new IP and the
    other rows as they were."""
    lab.start_display()
    lab.start_sniffer()
    lab.start_camsim(cameras=3, extra=["--restart-ms", 1000])
    lab.start_app()
    window = MainWindow(lab)
    rows = window.search(3)
    row_index = 1
    row = rows[row_index]
    window.click_row(row_index, repeat=2)
    a11y = lab.a11y
    settings = a11y.find(window.app_acc, None, "Set：" + row[3], timeout=10, depth=1)
    edits = sorted(a11y.find_all(settings, "text", depth=3), key=lambda e: a11y.extents(e)[1])
    check(len(edits) == 4, f"the settings window has {len(edits)} edits, expected 4")
    new_ip = lab.camera_ip(80)
    lab.screen.click_center(a11y.extents(edits[0]))
    lab.screen.key("ctrl+a")
    lab.screen.type_text(new_ip)

    camsim_mark = lab.camsim.lines.count()
    mark = lab.capture_mark()
    t0 = time.time()
    lab.screen.click_center(a11y.extents(a11y.find(settings, "push button", "Modify", depth=3)))
    box = window.message_box("Setting OK!")
    check_modify_record(lab, mark, t0, time.time(), 0, row, new_ip)
    check(lab.camsim.lines.wait_for(r"applied to camera 1 .*restarting, silent for 1000 ms", 5,
                                    camsim_mark), "camsim did not take the record and restart")
    # The camera is silent for a second: the bar shows the wait meanwhile.
    waiting = window.wait_progress_text(r"^Confirming ", 2)
    check(waiting == f"Confirming {row[1]}\u2026", f"the progress bar shows {waiting!r}")
    done = window.wait_progress_text(r"onfirmed", 12)
    t_done = time.time()
    check(done == f"Confirmed: {row[1]} at {new_ip}", f"the progress bar shows {done!r}")
    log(f"progress bar: {waiting!r}, then {done!r} {t_done - t0:.1f} s after Modify")
    probes = requests_on(lab, 0, mark)
    check(len(probes) >= 2, f"the tool probed {len(probes)} times while the camera restarted")

    # The row in place with the camera's new IP; the others as they were.
    after = window.rows()
    expected = [r if i != row_index else r[:3] + [new_ip] + r[4:] for i, r in enumerate(rows)]
    check(after == expected, "after the confirmation the list shows\n  " +
          "\n  ".join(map(str, after)) + "\nexpected\n  " + "\n  ".join(map(str, expected)))
    log(f"row {row_index} now shows {new_ip}; the other rows are unchanged")
    lab.screen.click_center(a11y.extents(a11y.find(box, "push button", "OK", depth=3)))


def scenario_confirm_cli(lab, args):
    """--modify waits for the camera: exit 0 and "Confirmed" when it answers
    with the new values after its restart, exit 3 and "Not confirmed" when it
    never answers again; exit 3 with nothing sent when no camera has the
    device ID (it is searched for first)."""
    lab.start_sniffer()
    lab.start_camsim(cameras=3, extra=["--restart-ms", 1000])
    listed = lab.run_cli("--list", "--format", "json")
    check(listed.returncode == 0, f"--list: exit {listed.returncode} {listed.stderr!r}")
    import json
    cameras = json.loads(listed.stdout)
    check(len(cameras) == 3, f"--list found {len(cameras)} cameras, expected 3")
    camera = cameras[0]
    dev_id = camera.get("dev_id") or camera.get("Dev ID")
    fields = {k.lower().replace(" ", "_"): v for k, v in camera.items()}
    base = ["--mask", fields["mask"], "--gateway", fields["gateway"], "--mac", fields["mac"]]

    new_ip = lab.camera_ip(90)
    t0 = time.monotonic()
    result = lab.run_cli("--modify", dev_id, "--ip", new_ip, *base)
    took = time.monotonic() - t0
    check(result.returncode == 0 and
          result.stdout == f"Setting OK!\nConfirmed: {dev_id} at {new_ip}\n",
          f"--modify: exit {result.returncode}, {result.stdout!r} {result.stderr!r}")
    log(f"--modify: confirmed in {took:.1f} s (the camera restarted for 1 s)")

    cases = [
        ("a camera that never answers again", dev_id, ["--silent-after-modify"]),
        ("a device ID no camera has", "0011aabb-0000ff01", []),
    ]
    for label, target, extra in cases:
        lab.stop_camsim()
        lab.start_camsim(cameras=3, extra=extra, name="camsim-b")
        result = lab.run_cli("--modify", target, "--ip", lab.camera_ip(91), *base,
                             "--verify-wait", 2500)
        if target == dev_id:
            expected = f"Setting OK!\nNot confirmed: {target} did not answer in 2.5 s\n"
            said = ""
        else:
            expected = ""
            said = f"{target} did not answer the search; nothing was sent"
        check(result.returncode == 3 and result.stdout == expected and said in result.stderr,
              f"{label}: exit {result.returncode}, {result.stdout!r} {result.stderr!r}")
        log(f"{label}: exit 3, {(result.stdout or result.stderr).splitlines()[-1]!r}")


def scenario_lossy(lab, args):
    """Cameras that each miss every second request: one search and one
    --list list them all, with every repeat the first request byte for byte."""
    lab.start_display()
    lab.start_sniffer()
    lab.start_camsim(cameras=6, extra=["--miss-every", 2])
    lab.start_app()
    window = MainWindow(lab)
    mark = lab.capture_mark()
    rows = window.search(6)
    check(sorted(r[3] for r in rows) == sorted(lab.camera_ip(i) for i in range(6)),
          f"the search listed {[r[3] for r in rows]}")
    check([r[0] for r in rows] == [str(i) for i in range(6)], "rows are not numbered 0..5")
    time.sleep(1.0)
    requests = requests_on(lab, 0, mark)
    check(len(requests) == 3 and len({r["data"] for r in requests}) == 1,
          f"the camera host received {len(requests)} requests for one search "
          f"({len({r['data'] for r in requests})} different), expected 3 identical ones")
    log("one search: 3 identical requests, all 6 cameras listed")
    lab.app.stop()  # frees the receive port for --list

    result = lab.run_cli("--list")
    listed = result.stdout.splitlines()[1:]
    check(result.returncode == 0 and len(listed) == 6,
          f"--list: exit {result.returncode}, {len(listed)} rows: {result.stdout!r}")
    log("one --list: all 6 cameras listed")

# The keys of a --watch --format jsonl line: the event and its time, the keys
# of --list --format json in their order, then the times.
WATCH_KEYS = ["event", "time", "no", "dev_id", "name", "ip", "port", "mac", "app_ver", "hardware_ver",
              "kernel_ver", "mask", "web_port", "gateway", "interface", "flags", "seen_via",
              "first_seen",
              "last_seen"]
# The window's watch interval (its default) and the one --watch runs with here.
WINDOW_CYCLE_S = 5.0
CLI_CYCLE_S = 1.0


def wait_progress_match(window, pattern, timeout):
    """Seconds until the progress bar's text matches, or a failure."""
    t0 = time.monotonic()
    window.wait_progress_text(pattern, timeout)
    return time.monotonic() - t0


def scenario_watch(lab, args):
    """Keep Watching from the row menu: a camera started mid-watch is
    appended within one cycle + 0.5 s; one that stops answering is counted
    gone after 3 cycles (the progress bar's "· 1 gone"; its row stays) and
    back when it answers again; a new Search ends watching."""
    lab.start_display()
    lab.start_camsim(cameras=3)
    lab.start_app()
    window = MainWindow(lab)
    window.search(3)
    window.wait_progress_text(r"^3 cameras · \d+ flagged · \d+ selected$", 5)
    # The row menu (a popup the accessibility tree does not show): its
    # "Keep Watching" has the access key W.
    lab.screen.click_with(None, lab.a11y.extents(lab.a11y.cell(window.table(), 0, 3)), button=3)
    time.sleep(0.5)
    lab.screen.key("w")
    window.wait_progress_text(
        r"^Watching · every 5 s · 3 cameras · \d+ flagged · 1 selected · 0 gone$", 5)
    log("watching: " + window.progress_text())

    # A camera plugged in while watching.
    late = lab.start_camsim(cameras=1, first=10, name="camsim-b")
    t0 = time.monotonic()
    rows = window.rows()
    while len(rows) < 4 and time.monotonic() - t0 < WINDOW_CYCLE_S + 3:
        time.sleep(0.1)
        rows = window.rows()
    took = time.monotonic() - t0
    check(len(rows) == 4 and rows[3][3] == lab.camera_ip(10),
          f"the late camera was not appended: {[r[3] for r in rows]}")
    check(took <= WINDOW_CYCLE_S + 0.5, f"the late camera took {took:.1f} s to be listed")
    log(f"a camera started mid-watch was appended after {took:.1f} s")

    # It stops answering: gone after three cycles without an answer, its row kept.
    lab.camsim = late
    lab.stop_camsim()
    took = wait_progress_match(window, r"· 1 gone$", 4 * WINDOW_CYCLE_S + 3)
    check(took > 2 * WINDOW_CYCLE_S,
          f"gone after {took:.1f} s, before three cycles of {WINDOW_CYCLE_S} s could pass")
    check(len(window.rows()) == 4, "the gone camera's row was removed")
    log(f"silent camera counted gone after {took:.1f} s: {window.progress_text()}")

    # It answers again: back within a cycle.
    lab.start_camsim(cameras=1, first=10, name="camsim-b")
    took = wait_progress_match(window, r"^Watching · .* · 4 cameras .* · 0 gone$",
                               WINDOW_CYCLE_S + 2)
    log(f"the camera was back after {took:.1f} s")

    # Search clears, lists afresh and ends watching.
    window.search(4)
    text = window.wait_progress_text(r"^4 cameras · \d+ flagged · \d+ selected$", 5)
    log(f"Search ended watching: {text!r}")


def watch_lines(process, start):
    """The --watch lines from `start` on, each parsed as JSON (a failure names
    a line that is not)."""
    import json
    parsed = []
    for line in process.lines.since(start):
        try:
            parsed.append(json.loads(line))
        except ValueError:
            raise Failure(f"--watch wrote a line that is not JSON: {line!r}")
    return parsed


def wait_watch_event(process, start, event, ip, timeout):
    """Seconds until --watch reports `event` for the camera at `ip`."""
    t0 = time.monotonic()
    line = process.lines.wait_for(rf'"event": "{event}", .*"ip": "{re.escape(ip)}"', timeout, start)
    check(line is not None, f"--watch reported no {event!r} for {ip} within {timeout} s: "
                            f"{process.lines.since(start)}")
    return time.monotonic() - t0


def start_request_loss(percent):
    """Drops `percent` % of what the tool's namespace sends on lan0; answers
    the call that ends it."""
    netem = subprocess.run(["tc", "qdisc", "add", "dev", "lan0", "root", "netem", "loss",
                            f"{percent}%"], capture_output=True, text=True)
    if netem.returncode == 0:
        log(f"tc netem: {percent} % loss on lan0")
        return lambda: subprocess.run(["tc", "qdisc", "del", "dev", "lan0", "root"],
                                      capture_output=True)
    rules = ("add table inet qd_loss\n"
             "add chain inet qd_loss out { type filter hook output priority 0; }\n"
             f"add rule inet qd_loss out oifname lan0 numgen random mod 100 < {percent} drop\n")
    nft = subprocess.run(["nft", "-f", "-"], input=rules, capture_output=True, text=True)
    check(nft.returncode == 0, f"neither tc netem ({netem.stderr.strip()}) nor nftables "
                               f"({nft.stderr.strip()}) can drop datagrams here")
    log(f"nftables: {percent} % of lan0's outgoing datagrams dropped (no netem in this kernel)")
    return lambda: subprocess.run(["nft", "delete", "table", "inet", "qd_loss"],
                                  capture_output=True)


def scenario_watch_cli(lab, args):
    """--watch --format jsonl --interval 1: every line valid JSON with the
    --list keys, "added" for the cameras and for one started later (within a
    cycle + 0.5 s), "gone" after 3 silent cycles and "back"; no false "gone"
    over 20 cycles with 5 % of the tool's requests lost (in the tool's
    namespace); SIGTERM ends it with exit code 0."""
    lab.start_camsim(cameras=4)
    env = {k: v for k, v in lab.env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    watch = lab.start("watch", [lab.app_path, "--watch", "--format", "jsonl", "--interval",
                                str(CLI_CYCLE_S)], capture=True, env=env)
    deadline = time.monotonic() + 4
    while len(watch.lines.since(0)) < 4 and time.monotonic() < deadline:
        time.sleep(0.1)
    events = watch_lines(watch, 0)
    check(sorted((e["event"], e["ip"]) for e in events) ==
          sorted(("added", lab.camera_ip(i)) for i in range(4)),
          f"--watch began with {[(e['event'], e['ip']) for e in events]}")
    for event in events:
        check(list(event) == WATCH_KEYS, f"a line has the keys {list(event)}")
        check(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", event["last_seen"]),
              f"last_seen is {event['last_seen']!r}")
        check(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", event["time"]),
              f"time is {event['time']!r}")
    log("--watch: 4 cameras added, every line JSON with the --list keys and the times")

    mark = watch.lines.count()
    late = lab.start_camsim(cameras=1, first=10, name="camsim-b")
    took = wait_watch_event(watch, mark, "added", lab.camera_ip(10), CLI_CYCLE_S + 3)
    check(took <= CLI_CYCLE_S + 0.5, f"the late camera took {took:.1f} s to be added")
    lab.camsim = late
    lab.stop_camsim()
    took = wait_watch_event(watch, mark, "gone", lab.camera_ip(10), 4 * CLI_CYCLE_S + 2)
    check(took > 2 * CLI_CYCLE_S, f"gone after {took:.1f} s, before three cycles could pass")
    log(f"--watch: added mid-watch, gone after {took:.1f} s")
    lab.start_camsim(cameras=1, first=10, name="camsim-b")
    took = wait_watch_event(watch, mark, "back", lab.camera_ip(10), CLI_CYCLE_S + 2)
    log(f"--watch: back after {took:.1f} s")

    # 5 % of the requests lost on the tool's link, 20 cycles: no camera may
    # count as gone. (The issue's 60 s at 5 s cycles is 12 cycles; 20 short
    # ones test more of them in less time.) tc netem where the kernel has it,
    # else an nftables rule in the tool's namespace that drops 5 % at random.
    loss = start_request_loss(5)
    mark = watch.lines.count()
    time.sleep(20 * CLI_CYCLE_S)
    loss()
    lossy = watch_lines(watch, mark)
    gone = [e for e in lossy if e["event"] == "gone"]
    check(not gone, f"with 5 % loss --watch reported {len(gone)} false gone: {gone[:2]}")
    log(f"--watch: 20 cycles with 5 % of the requests lost, {len(lossy)} events, none gone")

    watch.popen.send_signal(signal.SIGTERM)
    try:
        code = watch.popen.wait(3)
    except subprocess.TimeoutExpired:
        raise Failure("--watch did not end within 3 s of SIGTERM")
    time.sleep(0.2)  # the reader thread takes the last lines
    watch_lines(watch, 0)
    check(code == 0, f"--watch ended with exit code {code} on SIGTERM")
    log(f"--watch: ended with 0 on SIGTERM, {watch.lines.count()} lines, all JSON")


def scenario_diagnose(lab, args):
    """--diagnose names each cause of an empty search, made inside this
    test's own namespaces only, with its problem line and exit code 3; a
    healthy LAN gives no problem and exit code 0. One sub-case after the
    other, each undone before the next."""
    import json
    nft = shutil.which("nft")
    if not nft:
        raise Skip("nft is not installed (scripts/install-deps.sh installs nftables)")
    # One simulator address that the routes below move: the cameras answer
    # from wherever the namespace's default route says.
    lab.start_camsim(cameras=3, own_address=False)
    addresses = subprocess.run(["ip", "-o", "-4", "addr", "show"], capture_output=True,
                               text=True, timeout=10).stdout.splitlines()
    lan = next(line.split()[1] for line in addresses
               if line.split()[3].split("/")[0] == lab.tool_ip)

    def sh(*argv):
        subprocess.run([str(a) for a in argv], check=True, timeout=10, capture_output=True)

    def set_rp_filter(value):
        for name in ("all", lan):
            with open(f"/proc/sys/net/ipv4/conf/{name}/rp_filter", "w") as f:
                f.write(str(value))

    # A firewall of the host itself (firewalld or ufw in /etc) is no cause
    # this test made; it is reported, and allowed.
    def diagnose(label):
        result = lab.run_cli("--diagnose", "--format", "json", timeout=30)
        try:
            lines = json.loads(result.stdout)
        except ValueError:
            raise Failure(f"{label}: --diagnose printed no JSON: {result.stdout!r} {result.stderr!r}")
        check(all(list(line) == ["check", "result", "finding", "fix"] for line in lines) and
              all(line["result"] in ("ok", "problem", "not_checked") for line in lines),
              f"{label}: malformed lines {lines}")
        by_check = {line["check"]: line for line in lines}
        problems = {c for c, line in by_check.items() if line["result"] == "problem"}
        log(f"{label}: exit {result.returncode}, problems {sorted(problems) or 'none'}")
        return result, by_check, problems - {"firewalld", "ufw"}, problems & {"firewalld", "ufw"}

    def expect(label, check_name, *fragments):
        result, lines, problems, host = diagnose(label)
        line = lines.get(check_name, {})
        check(line.get("result") == "problem" and
              all(fragment in line.get("finding", "") for fragment in fragments) and
              line.get("fix"),
              f"{label}: expected a problem in {check_name!r} naming {fragments}, got {line}")
        check(result.returncode == 3, f"{label}: exit {result.returncode}, expected 3")
        check("problem" in result.stderr, f"{label}: stderr {result.stderr!r}")
        return lines

    # Healthy: the three cameras answer inside the subnet, nothing in the way.
    set_rp_filter(0)
    result, lines, problems, host = diagnose("healthy LAN")
    check(not problems, f"healthy LAN: problems {[lines[c] for c in sorted(problems)]}")
    check(result.returncode == (3 if host else 0),
          f"healthy LAN: exit {result.returncode} with host firewall problems {host}")
    check(lines["replies"]["finding"] == "3 cameras answered" and
          lines["interfaces"]["result"] == "ok" and lan in lines["interfaces"]["finding"] and
          lines["nftables"]["result"] == "ok" and lines["port"]["result"] == "ok",
          f"healthy LAN: {lines}")
    # Strict reverse-path filtering on a LAN whose cameras are all inside
    # the subnet drops nothing: no problem.
    set_rp_filter(1)
    try:
        result, lines, problems, host = diagnose("healthy LAN, strict rp_filter")
        check(not problems and lines["rp_filter"]["result"] == "ok" and
              "dropped nothing" in lines["rp_filter"]["finding"],
              f"healthy LAN, strict rp_filter: {lines['rp_filter']}, problems {sorted(problems)}")
        check(result.returncode == (3 if host else 0),
              f"healthy LAN, strict rp_filter: exit {result.returncode}")
    finally:
        set_rp_filter(0)

    # Another program holds the receive port: this very test.
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        holder.bind(("0.0.0.0", 8089))
        expect("port held", "port", f"python3 (PID {os.getpid()})")
    finally:
        holder.close()

    # Junk datagrams on the receive port from the camera host, while the
    # cameras answer too.
    junk = lab.start("junk", lab.in_cams(
        "/usr/bin/python3", "-c",
        "import socket, time\n"
        "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
        "s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)\n"
        "for _ in range(80):\n"
        "    s.sendto(b'junk', ('255.255.255.255', 8089)); time.sleep(0.05)\n"))
    try:
        expect("junk sender", "rejected", "datagrams arrived on the receive port",
               "not carrying this search's ID", f"from {lab.cams_ips[0]} (")
    finally:
        junk.stop()

    # A rule of this namespace's own nftables ruleset drops UDP to 8089.
    sh(nft, "add", "table", "inet", "qdtest")
    try:
        sh(nft, "add", "chain", "inet", "qdtest", "input",
           "{ type filter hook input priority 0 ; policy accept ; }")
        sh(nft, "add", "rule", "inet", "qdtest", "input", "udp", "dport", "8089", "drop")
        lines = expect("nftables drop", "nftables", "drops 8089/udp", "qdtest")
        check(lines["replies"]["finding"] == "no camera answered the search",
              f"nftables drop: {lines['replies']}")
    finally:
        sh(nft, "delete", "table", "inet", "qdtest")

    # Strict reverse-path filtering, and a camera outside the tool's subnet
    # that the tool has no route to: its replies are dropped.
    outside = "192.168.1.64"
    sh("ip", "-n", lab.cams_ns, "addr", "add", f"{outside}/24", "dev", "lan0")
    sh("ip", "-n", lab.cams_ns, "route", "replace", "default", "dev", "lan0", "src", outside)
    sh("ip", "route", "del", "default")
    set_rp_filter(1)
    try:
        expect("rp_filter", "rp_filter", f"strict reverse-path filtering (rp_filter = 1) on {lan}",
               "dropped")
        # The same cameras without the filter: they answer, from outside.
        set_rp_filter(0)
        lines = expect("other subnet", "replies", "only cameras outside this PC's subnets")
    finally:
        set_rp_filter(0)
        sh("ip", "route", "replace", "default", "dev", lan)
        sh("ip", "-n", lab.cams_ns, "route", "replace", "default", "dev", "lan0")
        sh("ip", "-n", lab.cams_ns, "addr", "del", f"{outside}/24", "dev", "lan0")

    # The camera side's link down: the tool's link is up without a carrier.
    sh("ip", "-n", lab.cams_ns, "link", "set", "lan0", "down")
    try:
        expect("no carrier", "link", f"{lan} is up but without a link")
    finally:
        sh("ip", "-n", lab.cams_ns, "link", "set", "lan0", "up")
        sh("ip", "-n", lab.cams_ns, "route", "replace", "default", "dev", "lan0")

    # The tool's own link down: nothing to send on.
    sh("ip", "link", "set", lan, "down")
    try:
        lines = expect("link down", "interfaces", "no interface is up", lan)
        check(lines["requests"]["result"] == "problem", f"link down: {lines['requests']}")
    finally:
        sh("ip", "link", "set", lan, "up")
        sh("ip", "route", "replace", "default", "dev", lan)

    # --list that finds nothing points at --diagnose.
    lab.stop_camsim()
    result = lab.run_cli("--list", "--wait", "300")
    check(result.returncode == 0 and "--diagnose" in result.stderr,
          f"--list with no camera: exit {result.returncode}, stderr {result.stderr!r}")

    # The window: a search that ends empty says so on the progress bar, and a
    # click there shows the checks.
    lab.start_display()
    lab.start_app()
    window = MainWindow(lab)
    window.press("Search")
    text = window.wait_progress_text(r"^No camera answered", 8)
    bar = window.a11y.find(window.acc, "progress bar", timeout=5, depth=1)
    lab.screen.click_center(window.a11y.extents(bar))
    dialog = window.a11y.find(window.app_acc, "dialog", "Diagnose Network", 10, depth=1)
    rows = window.a11y.table_rows(window.a11y.find(dialog, "table", timeout=5, depth=2))
    by_check = {row[0]: row for row in rows}
    check(by_check.get("replies", [])[1:3] == ["PROBLEM", "no camera answered the search"] and
          by_check.get("port", [])[1:2] == ["ok"] and len(rows) == 11,
          f"the window's diagnosis shows {rows}")
    log(f"window: {text!r}; Diagnose Network lists {len(rows)} checks")


def cli_records(lab, *argv, timeout=40):
    """Runs the command line with --format json; its result and the records
    it printed (none when the output is not a JSON array)."""
    import json
    result = lab.run_cli(*argv, "--format", "json", timeout=timeout)
    try:
        records = json.loads(result.stdout) if result.stdout.strip() else []
    except ValueError:
        records = []
    return result, records


def records_received(sim, mark):
    """The modify records a simulator printed since line `mark`."""
    return [x for x in sim.lines.since(mark) if x.startswith("modify from")]


def scenario_spoof_cli(lab, args):
    """Five factory cameras that never take a record on (three ignore it, two
    fall silent after it) and another host that answers every probe, from its
    own address, with the records' new values under the cameras' device IDs:
    --assign --all exits 3 and confirms none of them."""
    ignoring = lab.start_camsim(3, first=100, name="camsim-factory",
                                extra=("--factory", FACTORY_NETWORK, "--ignore-modify"))
    silent = lab.start_camsim(2, first=103, name="camsim-b",
                              extra=("--factory", FACTORY_NETWORK, "--silent-after-modify"))
    spoofer = lab.start_camsim(1, first=150, name="camsim-spoof", extra=("--spoof",),
                               own_address=False)
    marks = [sim.lines.count() for sim in (ignoring, silent, spoofer)]
    result, records = cli_records(
        lab, "--assign", "--from", f"{lab.prefix}.50", "--mask", "255.255.255.0", "--gateway",
        f"{lab.prefix}.254", "--all", "--verify-wait", 4000)
    results = sorted(r.get("result") for r in records)
    spoofed = [x for x in spoofer.lines.since(marks[2]) if x.startswith("spoofing ")]
    check(len(spoofed) == 5, f"the spoofer saw {len(spoofed)} records, expected 5")
    check(spoofer.lines.wait_for(r"answered with 5 replies", 2, marks[2]),
          "the spoofer never answered for all five cameras")
    check(result.returncode == 3 and len(records) == 5 and "confirmed" not in results,
          f"--assign --all against a spoofer: exit {result.returncode}, results {results}, "
          f"stderr {result.stderr!r}")
    log(f"--assign --all with a spoofer: exit 3, results {results}")


def scenario_refuse_cli(lab, args):
    """A device at the factory address that reports MAC 00:00:00:00:00:00 is
    refused alone (with the reason); the four real cameras are confirmed, and
    the exit code (3) says that not every camera was."""
    lab.start_camsim(4, first=100, name="camsim-factory",
                     extra=("--factory", FACTORY_NETWORK, "--restart-ms", 500))
    odd = lab.start_camsim(1, first=120, name="camsim-b",
                           extra=("--factory", FACTORY_NETWORK, "--zero-mac"))
    mark = odd.lines.count()
    result, records = cli_records(
        lab, "--assign", "--from", f"{lab.prefix}.70", "--mask", "255.255.255.0", "--gateway",
        f"{lab.prefix}.254", "--select-ip", FACTORY_IP, "--verify-wait", 8000)
    by_mac = {r["mac"]: r["result"] for r in records}
    check(result.returncode == 3 and by_mac.get("00:00:00:00:00:00") == "refused" and
          sorted(v for k, v in by_mac.items() if k != "00:00:00:00:00:00") ==
          ["confirmed"] * 4,
          f"--assign with an all-zero MAC: exit {result.returncode}, {by_mac}, "
          f"{result.stderr!r}")
    # It hears the others' records (broadcasts) but is sent none of its own.
    check(not [x for x in odd.lines.since(mark) if x.startswith("applied to camera")],
          "the refused device was sent a record")
    log(f"--assign with an all-zero MAC device: exit 3, {by_mac}")


def scenario_dhcp_cli(lab, args):
    """A DHCP change is confirmed only by evidence: a camera that ignores the
    record and keeps answering unchanged gives exit 3, also when it misses
    every second probe (one silent interval is not a restart); one that falls
    silent for good while a host replays its answer from before the record
    gives exit 3 (a reply counts only for the probe it answers); one that
    restarts and answers again gives exit 0. A static change to the settings
    a camera already reports is sent and ends "unverifiable", exit 3."""
    cases = [("a camera that ignores the record", ("--ignore-modify",), 3),
             ("a camera that ignores the record and misses every second probe",
              ("--ignore-modify", "--miss-every", 2), 3),
             ("a camera that falls silent while its old answer is replayed",
              ("--silent-after-modify", "--replay-after", 1400), 3),
             ("a camera that restarts its network", ("--restart-ms", 1000), 0)]
    for number, (label, extra, expected) in enumerate(cases):
        lab.stop_camsim()
        sim = lab.start_camsim(2, extra=extra, name=f"camsim-{number}")
        listed, cameras = cli_records(lab, "--list")
        check(len(cameras) == 2, f"--list found {len(cameras)} cameras: {listed.stderr!r}")
        camera = cameras[0]
        mark = sim.lines.count()
        result = lab.run_cli("--modify", camera["dev_id"], "--ip", "", "--mask", "", "--gateway",
                             "", "--mac", camera["mac"], "--mode", "dhcp", "--verify-wait", 3000,
                             timeout=30)
        check(len(records_received(sim, mark)) == 1, f"{label}: the record did not arrive")
        check(result.returncode == expected and
              ("Confirmed" in result.stdout) == (expected == 0),
              f"{label}: exit {result.returncode} (expected {expected}), {result.stdout!r}")
        if "--replay-after" in extra:
            check(sim.lines.wait_for(r"replayed camera 0's reply", 1, mark),
                  f"{label}: nothing was replayed")
        log(f"DHCP, {label}: exit {result.returncode}, {result.stdout.splitlines()[-1]!r}")

    # The same static settings again (the camera restarts and answers as
    # before): nothing can show that it took them.
    camera = cameras[1]
    mark = sim.lines.count()
    result = lab.run_cli("--modify", camera["dev_id"], "--ip", camera["ip"], "--mask",
                         camera["mask"], "--gateway", camera["gateway"], "--mac", camera["mac"],
                         "--verify-wait", 3000, timeout=30)
    check(len(records_received(sim, mark)) == 1, "the same settings: the record did not arrive")
    check(result.returncode == 3 and "unverifiable" in result.stdout.lower() and
          "Confirmed" not in result.stdout,
          f"the same settings: exit {result.returncode}, {result.stdout!r}")
    log(f"the same static settings: exit 3, {result.stdout.splitlines()[-1]!r}")


def scenario_plan_taken_cli(lab, args):
    """A plan that gives a factory camera the address of a working camera
    that is listed but not in the plan exits 2 and sends nothing."""
    factory_sim, taken = start_factory_lab(lab, factory=3, configured=2)
    configured_sim = lab.camsim
    _, cameras = cli_records(lab, "--list")
    factory = [c for c in cameras if c["ip"] == FACTORY_IP]
    check(len(factory) == 3, f"--list found {len(factory)} factory cameras")
    plan = os.path.join(lab.dir, "taken.csv")
    with open(plan, "w") as f:
        f.write("dev_id,ip,mask,gateway\n")
        f.write(f"{factory[0]['dev_id']},{lab.prefix}.120,255.255.255.0,{lab.prefix}.254\n")
        f.write(f"{factory[1]['dev_id']},{taken[0]},255.255.255.0,{lab.prefix}.254\n")
    marks = (factory_sim.lines.count(), configured_sim.lines.count())
    result = lab.run_cli("--plan", plan)
    time.sleep(0.5)  # a record sent would have arrived by now
    sent = records_received(factory_sim, marks[0]) + records_received(configured_sim, marks[1])
    check(result.returncode == 2 and not result.stdout and taken[0] in result.stderr,
          f"a plan onto {taken[0]}: exit {result.returncode}, {result.stdout!r}, "
          f"{result.stderr!r}")
    check(not sent, f"the refused plan sent {len(sent)} records")
    log(f"a plan onto a working camera's address: exit 2, {result.stderr.strip()!r}, "
        "nothing sent")

    # A host that answers on the LAN but is no camera, and that the tool never
    # talked to: --assign probes the addresses it plans and skips that one.
    live = f"{lab.prefix}.121"
    subprocess.run(lab.in_cams("ip", "addr", "add", f"{live}/24", "dev", "lan0"), check=True)
    dry, records = cli_records(
        lab, "--assign", "--from", f"{lab.prefix}.120", "--mask", "255.255.255.0",
        "--gateway", f"{lab.prefix}.254", "--select-ip", FACTORY_IP, "--dry-run")
    planned = sorted(r["new_ip"] for r in records)
    check(dry.returncode == 0 and live not in planned and len(planned) == 3 and
          f"skipped {live}: something answered at this address" in dry.stderr,
          f"--assign past a live host: exit {dry.returncode}, planned {planned}, "
          f"{dry.stderr!r}")
    log(f"--assign --dry-run skips the live host {live}: planned {planned}")

    # A single change is checked like a batch: onto a listed camera's address
    # it is refused with the holder named, and sent only with --force.
    modify = ["--modify", factory[1]["dev_id"], "--ip", taken[0], "--mask", "255.255.255.0",
              "--gateway", f"{lab.prefix}.254", "--mac", factory[1]["mac"], "--verify-wait", 0]
    for force, expected_exit, expected_sent in ((False, 2, 0), (True, 0, 1)):
        mark = factory_sim.lines.count()
        result = lab.run_cli(*modify, *(("--force",) if force else ()))
        time.sleep(0.5)
        sent = records_received(factory_sim, mark)
        holder = f"{taken[0]} is used by a listed camera"
        check(result.returncode == expected_exit and len(sent) == expected_sent and
              (force or (holder in result.stderr and not result.stdout)),
              f"--modify onto {taken[0]}{' --force' if force else ''}: exit "
              f"{result.returncode}, {len(sent)} records, {result.stdout!r}, {result.stderr!r}")
        log(f"--modify onto a listed camera's address{' with --force' if force else ''}: "
            f"exit {result.returncode}, {len(sent)} record(s) sent")


def scenario_dry_run_cli(lab, args):
    """Two simulators answer in no fixed order; the dry run and the run after
    it give every camera the same address, in the order of their MACs."""
    sims = [lab.start_camsim(3, first=110, name="camsim-factory",
                             extra=("--factory", FACTORY_NETWORK, "--restart-ms", 500)),
            lab.start_camsim(3, first=100, name="camsim-b",
                             extra=("--factory", FACTORY_NETWORK, "--restart-ms", 500))]
    assign = ["--assign", "--from", f"{lab.prefix}.40", "--mask", "255.255.255.0", "--gateway",
              f"{lab.prefix}.254", "--select-ip", FACTORY_IP]
    marks = [sim.lines.count() for sim in sims]
    dry, planned = cli_records(lab, *assign, "--dry-run")
    check(dry.returncode == 0 and "6 planned, nothing sent" in dry.stderr + dry.stdout,
          f"--dry-run: exit {dry.returncode}, {dry.stderr!r}")
    check(not any(records_received(sim, mark) for sim, mark in zip(sims, marks)),
          "the dry run sent records")
    result, done = cli_records(lab, *assign, "--verify-wait", 8000)
    mapping = {r["dev_id"]: r["new_ip"] for r in planned}
    outcome = [(r["dev_id"], r["new_ip"], r["result"]) for r in done]
    check(result.returncode == 0 and {r["dev_id"]: r["new_ip"] for r in done} == mapping and
          all(r["result"] == "confirmed" for r in done),
          f"the run: exit {result.returncode}, {outcome}; the dry run planned {mapping}")
    by_mac = [r["new_ip"] for r in sorted(planned, key=lambda r: r["mac"])]
    check(by_mac == [f"{lab.prefix}.{40 + i}" for i in range(6)],
          f"ordered by MAC the addresses are {by_mac}")
    log("dry run and run: the same six addresses, in MAC order")


def scenario_rollback_cli(lab, args):
    """With the state directory unwritable (a file where it should be),
    --assign sends nothing and says how to go on. A factory batch --assign'ed
    writes a rollback plan; --plan with it puts every camera back at the one
    factory address, with the mask and gateway it had."""
    factory_sim, _ = start_factory_lab(lab, factory=4, configured=1)
    _, before = cli_records(lab, "--list")
    factory = [c for c in before if c["ip"] == FACTORY_IP]
    check(len(factory) == 4, f"--list found {len(factory)} factory cameras")
    assign = ["--assign", "--from", f"{lab.prefix}.60", "--mask", "255.255.255.0", "--gateway",
              f"{lab.prefix}.254", "--select-ip", FACTORY_IP]

    blocker = os.path.join(lab.dir, "not-a-folder")
    with open(blocker, "w") as f:
        f.write("in the way\n")
    state = lab.env["XDG_STATE_HOME"]
    lab.env["XDG_STATE_HOME"] = blocker
    mark = factory_sim.lines.count()
    try:
        refused = lab.run_cli(*assign, "--verify-wait", 3000)
    finally:
        lab.env["XDG_STATE_HOME"] = state
    time.sleep(0.5)  # a record sent would have arrived by now
    sent = records_received(factory_sim, mark)
    check(refused.returncode == 1 and not sent and "nothing was sent" in refused.stderr and
          "--no-rollback" in refused.stderr,
          f"an unwritable state directory: exit {refused.returncode}, {len(sent)} records sent, "
          f"{refused.stderr!r}")
    log(f"an unwritable state directory: exit 1, nothing sent: {refused.stderr.strip()!r}")

    result, done = cli_records(lab, *assign, "--verify-wait", 8000)
    check(result.returncode == 0 and [r["result"] for r in done] == ["confirmed"] * 4,
          f"--assign: exit {result.returncode}, {done}, {result.stderr!r}")
    check(all(r["reason"] and r["new_mask"] == "255.255.255.0" and r["mode"] == "static"
              for r in done), f"--assign's records carry no reason, mask or mode: {done}")
    paths = re.findall(r"(/\S+\.csv)\b", result.stderr + result.stdout)
    check(paths and os.path.exists(paths[0]),
          f"--assign named no rollback plan that exists: {result.stderr!r}")
    with open(paths[0]) as f:
        log(f"rollback plan {paths[0]}: {f.read()!r}")
    back, undone = cli_records(lab, "--plan", paths[0], "--verify-wait", 8000)
    check(back.returncode == 0 and [r["result"] for r in undone] == ["confirmed"] * 4,
          f"--plan with the rollback plan: exit {back.returncode}, {undone}, {back.stderr!r}")
    _, after = cli_records(lab, "--list")

    def settings(cameras):
        return sorted((c["dev_id"], c["ip"], c["mask"], c["gateway"]) for c in cameras)
    check(settings(after) == settings(before),
          f"after the rollback the cameras are\n  {settings(after)}\nwere\n  {settings(before)}")
    log("the rollback plan put all four factory cameras back at " + FACTORY_IP)


def second_tool_host(lab):
    """A second tool host on the camera LAN: its own namespace at .250, joined
    to the cameras' side by a bridge that takes over the name lan0 there (so
    the simulators and sniffers find it as before). Must run before any
    simulator starts. The namespace's name, or Skip when the lab cannot."""
    ns2, cams, prefix = f"qd2tool-{os.getpid()}", lab.cams_ns, lab.prefix

    def ip(*argv):
        done = subprocess.run(["ip", *argv], capture_output=True, text=True)
        if done.returncode != 0:
            subprocess.run(["ip", "netns", "del", ns2], capture_output=True)
            raise Skip(f"no second tool host: ip {' '.join(argv)}: {done.stderr.strip()}")

    ip("netns", "add", ns2)
    ip("link", "add", "lan0", "netns", ns2, "type", "veth", "peer", "name", "lan1p", "netns", cams)
    ip("-n", cams, "link", "set", "lan0", "down")
    ip("-n", cams, "link", "set", "lan0", "name", "lan0p")
    ip("-n", cams, "link", "add", "lan0", "type", "bridge")
    for port in ("lan0p", "lan1p"):
        ip("-n", cams, "link", "set", port, "master", "lan0")
        ip("-n", cams, "link", "set", port, "up")
    for address in lab.cams_ips:
        ip("-n", cams, "addr", "del", f"{address}/24", "dev", "lan0p")
        ip("-n", cams, "addr", "add", f"{address}/24", "broadcast", f"{prefix}.255", "dev", "lan0")
    ip("-n", cams, "link", "set", "lan0", "up")
    ip("-n", cams, "route", "replace", "default", "dev", "lan0")
    ip("-n", ns2, "link", "set", "lo", "up")
    ip("-n", ns2, "addr", "add", f"{prefix}.250/24", "broadcast", f"{prefix}.255", "dev", "lan0")
    ip("-n", ns2, "link", "set", "lan0", "up")
    ip("-n", ns2, "route", "add", "default", "dev", "lan0")
    return ns2


def assign_from_two_hosts(lab, ns2):
    """Two tool hosts run --assign at the same time, each for three other
    factory cameras from the same start address: every camera ends confirmed
    or in conflict (or refused when the address answered just before its
    record), a clash is reported as conflict by at least one side, and no
    address is held by two cameras both reported confirmed."""
    import json
    listed = lab.run_cli("--list", "--wait", "1500")
    ids = sorted(r.split("\t")[1] for r in listed.stdout.splitlines()[1:]
                 if r.split("\t")[3] == FACTORY_IP)
    check(len(ids) >= 6, f"--list found {len(ids)} factory cameras: {listed.stdout!r}")
    env = {k: v for k, v in lab.env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY",
                                                         "DBUS_SESSION_BUS_ADDRESS")}
    runs = []
    for host, chosen in enumerate((ids[0:3], ids[3:6])):
        argv = [lab.app_path, "--assign", "--from", f"{lab.prefix}.30", "--mask",
                "255.255.255.0", "--gateway", f"{lab.prefix}.254", "--ids", ",".join(chosen),
                "--format", "json", "--verify-wait", "8000"]
        own = dict(env, XDG_STATE_HOME=os.path.join(lab.dir, f"host{host}"))
        runs.append(subprocess.Popen(["ip", "netns", "exec", ns2, *argv] if host else argv,
                                     env=own, cwd=lab.dir, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
    results = []
    for run in runs:
        try:
            out, err = run.communicate(timeout=40)
        except subprocess.TimeoutExpired:
            run.kill()
            raise Failure("an --assign of the two tool hosts ran longer than 40 s")
        try:
            records = json.loads(out)
        except ValueError:
            raise Failure(f"--assign printed no records: exit {run.returncode}, {err!r}")
        results.append([(r["dev_id"], r["new_ip"], r["result"]) for r in records])
    log(f"two tool hosts: {results}")
    check(all(r in ("confirmed", "conflict", "refused") for side in results for _, _, r in side),
          f"a camera of the two hosts ended otherwise: {results}")
    sent = [{ip for _, ip, r in side if r in ("confirmed", "conflict")} for side in results]
    for clash in sent[0] & sent[1]:
        check(any(ip == clash and r == "conflict" for side in results for _, ip, r in side),
              f"both hosts gave {clash} to a camera and neither reported a conflict: {results}")
    confirmed = {d: ip for side in results for d, ip, r in side if r == "confirmed"}
    check(len(set(confirmed.values())) == len(confirmed),
          f"one address confirmed for two cameras: {confirmed}")
    after = lab.run_cli("--list", "--wait", "1500")
    held = {}
    for row in after.stdout.splitlines()[1:]:
        cells = row.split("\t")
        held.setdefault(cells[3], []).append(cells[1])
    for dev_id, ip in confirmed.items():
        check(held.get(ip) == [dev_id], f"{ip}, confirmed for {dev_id}, is held by "
              f"{held.get(ip)}")
    log(f"no address held twice; confirmed {sorted(confirmed.values())}")


def scenario_assign_two(lab, args):
    """Two "Assign Addresses" dialogs open at once, each for five other
    factory cameras, with the same Start IP: their plans share no address.
    Then two tool hosts on the LAN assign at once (assign_from_two_hosts)."""
    ns2 = second_tool_host(lab)
    lab.start_display()
    lab.start_camsim(10, first=100, name="camsim-factory", extra=("--factory", FACTORY_NETWORK))
    lab.start_app()
    window = MainWindow(lab)
    window.search(10)
    a11y, screen = lab.a11y, lab.screen
    for first in (0, 5):
        window.click_row(first)
        screen.click_with("shift", a11y.extents(a11y.cell(window.table(), first + 4, 3)))
        screen.click_with(None, a11y.extents(a11y.cell(window.table(), first, 3)), button=3)
        time.sleep(0.5)
        screen.key("Down")
        screen.key("Return")
        deadline = time.monotonic() + 10
        while len(a11y.find_all(window.app_acc, None, "Assign Addresses", depth=1)) <= first // 5:
            check(time.monotonic() < deadline, "the Assign Addresses dialog did not open")
            time.sleep(0.2)
        # Out of the way of the list, for the next selection.
        screen.xdotool("windowmove", screen.find_window("Assign Addresses"), 700 + 40 * first, 0)
        time.sleep(0.5)
    time.sleep(1.0)
    plans, starts = [], []
    for dialog in a11y.find_all(window.app_acc, None, "Assign Addresses", depth=1):
        edits = sorted(a11y.find_all(dialog, "text", depth=4), key=lambda e: a11y.extents(e)[1])
        starts.append(a11y.text(edits[0]))
        plans.append([r[3] for r in a11y.table_rows(a11y.find(dialog, "table", timeout=5))])
    check(len(plans) == 2 and starts[0] == starts[1],
          f"{len(plans)} dialogs, Start IPs {starts}")
    ips = plans[0] + plans[1]
    check(all(len(p) == 5 for p in plans) and all(ips) and len(set(ips)) == 10,
          f"two open dialogs plan {plans}")
    log(f"two dialogs from {starts[0]}: {plans[0]} and {plans[1]}, no address twice")
    # The window gives the port back before the command lines run.
    lab.app.stop()
    try:
        assign_from_two_hosts(lab, ns2)
    finally:
        subprocess.run(["ip", "netns", "del", ns2], capture_output=True)


# name: (scenario, camera hosts per LAN, camera LANs)
def tool_interface(lab, lan=0):
    """The name of the tool's interface on a camera LAN."""
    addresses = subprocess.run(["ip", "-o", "-4", "addr", "show"], capture_output=True,
                               text=True, timeout=10).stdout.splitlines()
    return next(line.split()[1] for line in addresses
                if line.split()[3].split("/")[0] == lab.tool_ip_on(lan))


def scenario_onvif_cli(lab, args):
    """A mixed site: three cameras, three ONVIF devices in three answer
    variants, camera 0 answering both protocols (the same MAC), and an ONVIF
    device on camera 1's address with another MAC. One --list gives one
    record per device with seen_via and the clash flagged on both; a plan
    onto an ONVIF device's address exits 2; --assign skips it. --watch lists
    the site, adds a device on its Hello and makes it gone on its Bye, each
    within 3 s (its cycle is 30 s)."""
    lab.start_camsim(3, first=0)
    sims = [lab.start_onvifsim(3, first=20, name="onvif-only"),
            lab.start_onvifsim(1, first=0, variant="eui64-xaddr", name="onvif-both"),
            lab.start_onvifsim(1, first=40, ip_first=1, variant="eui64-xaddr",
                               name="onvif-clash")]
    result, records = cli_records(lab, "--list", "--wait", "1500")
    check(result.returncode == 0, f"--list: exit {result.returncode}: {result.stderr}")
    by_ip = {}
    for record in records:
        by_ip.setdefault(record["ip"], []).append(record)
    log("--list: " + "; ".join(f"{r['ip']} {r['seen_via']} {r['name']!r} {r['flags']}"
                               for r in records))
    check(len(records) == 7, f"expected 7 records (3 cameras, 3 ONVIF, 1 clash): {records}")
    both = by_ip.get(lab.camera_ip(0), [])
    check(len(both) == 1 and both[0]["seen_via"] == "native+onvif" and both[0]["flags"] == [],
          f"camera 0 on both protocols must be one record: {both}")
    clash = by_ip.get(lab.camera_ip(1), [])
    check(sorted(r["seen_via"] for r in clash) == ["native", "onvif"] and
          all(r["flags"] == ["ip_conflict"] for r in clash),
          f"camera 1's address must be flagged on a camera and an ONVIF device: {clash}")
    check(clash and any(r["mac"] == "02:00:%s" % ":".join(
        f"{b:02x}" for b in lab.camera_base(40).to_bytes(4, "big")) for r in clash),
          f"the clashing device's MAC comes from its EUI-64 XAddr: {clash}")
    onvif_only = [by_ip.get(lab.camera_ip(20 + i), []) for i in range(3)]
    for i, found in enumerate(onvif_only):
        number = lab.camera_base(20) + i
        check(len(found) == 1 and found[0]["seen_via"] == "onvif" and
              found[0]["name"] == f"onvif cam #{number}" and
              found[0]["hardware_ver"] == f"NVT-{number}" and found[0]["dev_id"] == "" and
              found[0]["port"] is None and found[0]["interface"] == tool_interface(lab),
              f"ONVIF device {i}: {found}")
    onvif_ip = lab.camera_ip(20)
    only = lab.run_cli("--list", "--protocol", "onvif", "--format", "json")
    import json
    check(only.returncode == 0 and len(json.loads(only.stdout)) == 5,
          f"--protocol onvif lists the 5 ONVIF devices: {only.stdout} {only.stderr}")
    log("--list: 7 records, camera 0 native+onvif, the clash on both, seen_via right")

    cameras = [r for r in records if r["seen_via"] != "onvif" and r["ip"] != lab.camera_ip(1)]
    plan = os.path.join(lab.dir, "onto-onvif.csv")
    with open(plan, "w") as f:
        f.write("dev_id,ip,mask,gateway\n")
        f.write(f"{cameras[0]['dev_id']},{onvif_ip},255.255.255.0,{lab.prefix}.254\n")
    result = lab.run_cli("--plan", plan)
    check(result.returncode == 2 and onvif_ip in result.stderr and
          "taken by a listed camera" in result.stderr,
          f"a plan onto an ONVIF device's address: exit {result.returncode}, {result.stderr!r}")
    result, planned = cli_records(lab, "--assign", "--all", "--from", onvif_ip, "--mask",
                                  "255.255.255.0", "--gateway", f"{lab.prefix}.254",
                                  "--dry-run")
    targets = [r.get("new_ip") for r in planned]
    check(result.returncode == 0 and planned and onvif_ip not in targets and
          lab.camera_ip(21) not in targets,
          f"--assign --dry-run must skip the ONVIF addresses: {result.returncode} {planned} "
          f"{result.stderr}")
    log(f"a plan onto {onvif_ip} exits 2; --assign from it plans {targets}")

    # Watching both kinds. A 30 s cycle: after the first round of probes only
    # a Hello or a Bye can tell about a device within the test (three rounds
    # without an answer would take 90 s).
    env = {k: v for k, v in lab.env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    watch = lab.start("watch-onvif", [lab.app_path, "--watch", "--format", "jsonl",
                                      "--interval", "30"], capture=True, env=env)
    deadline = time.monotonic() + 8
    while len(watch.lines.since(0)) < 7 and time.monotonic() < deadline:
        time.sleep(0.1)
    events = watch_lines(watch, 0)
    added = sorted((e["ip"], e["seen_via"]) for e in events if e["event"] == "added")
    check(len(events) == 7 and len(added) == 7 and
          added.count((lab.camera_ip(1), "onvif")) == 1 and
          all((lab.camera_ip(20 + i), "onvif") in added for i in range(3)),
          f"--watch began with 3 cameras and 4 ONVIF devices added: {added}")
    log(f"--watch: {len(added)} added (the first round of ONVIF probes beside the search)")
    mark = watch.lines.count()
    t0 = time.monotonic()
    announcing = lab.start_onvifsim(1, first=60, variant="plain", name="onvif-hello",
                                    extra=("--hello", "--bye"))
    wait_watch_event(watch, mark, "added", lab.camera_ip(60), 5)
    took = time.monotonic() - t0
    check(took < 3, f"the Hello took {took:.1f} s to be added")
    hello = watch_lines(watch, mark)
    check(len(hello) == 1 and hello[0]["seen_via"] == "onvif" and
          hello[0]["name"] == f"onvif cam #{lab.camera_base(60)}",
          f"one line for the Hello: {hello}")
    log(f"--watch: the Hello added {lab.camera_ip(60)} after {took:.1f} s")
    mark = watch.lines.count()
    t0 = time.monotonic()
    announcing.stop()  # it says Bye
    wait_watch_event(watch, mark, "gone", lab.camera_ip(60), 5)
    took = time.monotonic() - t0
    check(took < 3, f"the Bye took {took:.1f} s to make it gone")
    bye = watch_lines(watch, mark)
    check([e["event"] for e in bye] == ["gone"], f"one line for the Bye: {bye}")
    log(f"--watch: the Bye made it gone after {took:.1f} s")
    watch.popen.send_signal(signal.SIGTERM)
    check(watch.popen.wait(5) == 0, "--watch did not end with 0 on SIGTERM")
    for sim in sims:
        sim.stop()


def scenario_onvif_window(lab, args):
    """The mixed site of onvif-cli in the window: one Search lists the three
    cameras, the three ONVIF devices and the clashing device in one table,
    camera 0 once (--screenshot saves the window)."""
    lab.start_display()
    lab.start_camsim(3, first=0)
    lab.start_onvifsim(3, first=20, name="onvif-only")
    lab.start_onvifsim(1, first=0, variant="eui64-xaddr", name="onvif-both")
    lab.start_onvifsim(1, first=40, ip_first=1, variant="eui64-xaddr", name="onvif-clash")
    lab.start_app()
    window = MainWindow(lab)
    window.press("Search")
    deadline = time.monotonic() + 10
    while len(window.rows()) < 7 and time.monotonic() < deadline:
        time.sleep(0.3)
    rows = window.rows()
    log("rows: " + "; ".join(f"{r[3]} {r[2]!r}" for r in rows))
    check(len(rows) == 7, f"expected 7 rows, got {len(rows)}: {rows}")
    check(sum(1 for r in rows if r[3] == lab.camera_ip(0)) == 1, "camera 0 is listed twice")
    check(sum(1 for r in rows if r[3] == lab.camera_ip(1)) == 2, "the clash is not two rows")
    if args.screenshot:
        lab.screen.screenshot(args.screenshot, window.window)


def scenario_onvif_twolan_cli(lab, args):
    """ONVIF devices on two LANs: one --list finds those of both, each on
    the interface it answered on, and a device on both LANs is one record."""
    lab.start_onvifsim(2, first=10, lan=0, name="onvif-lan1")
    lab.start_onvifsim(2, first=10, lan=1, name="onvif-lan2")
    # The same device (one endpoint) on both LANs.
    lab.start_onvifsim(1, first=30, lan=0, variant="plain", name="onvif-both-lan1")
    lab.start_onvifsim(1, lan=1, ip_first=30, variant="plain", name="onvif-both-lan2",
                       base=lab.camera_base(30, 0))
    result, records = cli_records(lab, "--list", "--protocol", "onvif")
    check(result.returncode == 0, f"--list: exit {result.returncode}: {result.stderr}")
    log("--list: " + "; ".join(f"{r['ip']} {r['interface']} {r['name']!r}" for r in records))
    for lan in (0, 1):
        for i in range(2):
            ip = lab.camera_ip(10 + i, lan)
            found = [r for r in records if r["ip"] == ip]
            check(len(found) == 1 and found[0]["interface"] == tool_interface(lab, lan),
                  f"device {ip} of LAN {lan + 1}: {found}")
    shared = [r for r in records if r["name"] == f"onvif cam #{lab.camera_base(30, 0)}"]
    check(len(shared) == 1, f"the device on both LANs must be one record: {shared}")
    check(len(records) == 5, f"expected 5 records: {records}")
    log("two LANs: 4 devices and one on both, 5 records")


def scenario_onvif_bench(lab, args):
    """Not a test: 1,000 simulated ONVIF devices and 1,000 cameras on one LAN
    (bench/onvif/onvif_bench.sh runs it). Prints the records listed, the time
    --list takes, its peak memory and the WS-Discovery answers lost (sent by
    the simulator, not accepted by the tool)."""
    import json
    count = 1000
    lab.start_camsim(count, first=0)
    sim = lab.start_onvifsim(count, first=4000, variant="plain", name="onvif-bench")
    t0 = time.monotonic()
    argv = ["/usr/bin/time", "-f", "maxrss_kb=%M", lab.app_path, "--list", "--format", "json"]
    run = subprocess.run(argv, cwd=lab.dir, capture_output=True, text=True, timeout=60)
    elapsed = time.monotonic() - t0
    records = json.loads(run.stdout)
    onvif = sum(1 for r in records if r["seen_via"] == "onvif")
    native = sum(1 for r in records if r["seen_via"] == "native")
    rss = next((line.split("=")[1] for line in run.stderr.splitlines()
                if line.startswith("maxrss_kb=")), "?")
    diag = subprocess.run([lab.app_path, "--diagnose", "--format", "json"], cwd=lab.dir,
                          capture_output=True, text=True, timeout=60)
    probes = [line for line in json.loads(diag.stdout) if line["check"] == "onvif_probes"]
    sim.stop()
    sent = [x for x in sim.lines.since(0) if "probes," in x]
    log(f"--list: {len(records)} records ({native} native, {onvif} ONVIF) in {elapsed:.2f} s, "
        f"peak RSS {rss} kB")
    log(f"--diagnose: {[p['finding'] for p in probes]}; simulator: {sent}")
    check(onvif == count and native == count, f"listed {native} cameras, {onvif} ONVIF devices")


SCENARIOS = {
    "search": (scenario_search, 1, 1),
    "foreign": (scenario_foreign, 1, 1),
    "modify": (scenario_modify, 1, 1),
    "preview": (scenario_preview, 1, 1),
    "preview-reasons": (scenario_preview_reasons, 1, 1),
    "preview-login": (scenario_preview_login, 1, 1),
    "preview-stopped": (scenario_preview_stopped, 1, 1),
    "preview-hijack": (scenario_preview_hijack, 5, 1),
    "markup": (scenario_markup, 1, 1),
    "layout": (scenario_layout, 1, 1),
    "close": (scenario_close, 1, 1),
    "twolan": (scenario_twolan, 1, 2),
    "cli": (scenario_cli, 1, 1),
    "wine-cli": (scenario_wine_cli, 1, 1),
    "wine-window": (scenario_wine_window, 1, 1),
    "close-log": (scenario_close_log, 1, 1),
    "confirm": (scenario_confirm, 1, 1),
    "confirm-cli": (scenario_confirm_cli, 1, 1),
    "lossy": (scenario_lossy, 1, 1),
    "assign": (scenario_assign, 1, 1),
    "assign-cli": (scenario_assign_cli, 1, 1),
    "diagnose": (scenario_diagnose, 1, 1),
    "watch": (scenario_watch, 1, 1),
    "watch-cli": (scenario_watch_cli, 1, 1),
    "assign-two": (scenario_assign_two, 1, 1),
    "spoof-cli": (scenario_spoof_cli, 1, 1),
    "dhcp-cli": (scenario_dhcp_cli, 1, 1),
    "refuse-cli": (scenario_refuse_cli, 1, 1),
    "plan-taken-cli": (scenario_plan_taken_cli, 1, 1),
    "dry-run-cli": (scenario_dry_run_cli, 1, 1),
    "rollback-cli": (scenario_rollback_cli, 1, 1),
    "onvif-cli": (scenario_onvif_cli, 1, 1),
    "onvif-twolan-cli": (scenario_onvif_twolan_cli, 1, 2),
    "onvif-bench": (scenario_onvif_bench, 1, 1),
    "onvif-window": (scenario_onvif_window, 1, 1),
}


# ---------------------------------------------------------------------------


def missing_prerequisites():
    if os.geteuid() != 0:
        return "network namespaces need root; run the tests as root"
    for tool in ("ip", "Xvfb", "xdotool", "xwininfo", "import", "dbus-daemon", "dbus-send"):
        if not shutil.which(tool):
            return f"{tool} is not installed (scripts/install-deps.sh installs it)"
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        return "at-spi2-core is not installed (scripts/install-deps.sh installs it)"
    probe = subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"], capture_output=True)
    if probe.returncode != 0:
        return "python3-pyatspi is not installed (scripts/install-deps.sh installs it)"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--app", required=True)
    parser.add_argument("--camsim", required=True)
    parser.add_argument("--rtsp")
    parser.add_argument("--driver", help="win_window_driver.exe (wine-window)")
    parser.add_argument("--vlan", default=os.path.join(SOURCE_ROOT, "scripts", "vlan.sh"))
    parser.add_argument("--screenshot", help="save the window here at the end (preview)")
    parser.add_argument("--close-bound", type=float, default=2.0,
                        help="seconds the program may take to end after its window closes")
    parser.add_argument("--keep", action="store_true", help="keep the lab's files")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    for name in ("app", "camsim", "rtsp", "vlan", "screenshot", "driver"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    function, hosts, lans = SCENARIOS[args.scenario]

    if not args.inside:
        reason = missing_prerequisites()
        for path in (args.app, args.camsim):
            if not reason and not os.access(path, os.X_OK):
                reason = f"{path} is not built"
        if not reason and args.scenario.startswith("wine-") and not shutil.which("wine"):
            reason = "Wine is not installed (apt-get install wine64)"
        if not reason and args.scenario == "wine-window" and not (
                args.driver and os.access(args.driver, os.X_OK)):
            reason = f"the window's driver ({args.driver or '--driver'}) is not built"
        if not reason and args.scenario in ("preview", "close", "preview-login",
                                            "preview-stopped") and not (
                args.rtsp and os.access(args.rtsp, os.X_OK)):
            reason = "rtsp_test_server is not built (GStreamer's RTSP server library is missing)"
        if reason:
            print(f"SKIP: {reason}", flush=True)
            return camlab.SKIP
        argv = [args.vlan, "run", "--hosts", str(hosts), "--lans", str(lans), "--in", "tool", "--",
                "/usr/bin/python3", os.path.abspath(__file__), "--inside", args.scenario,
                "--app", args.app, "--camsim", args.camsim, "--close-bound", str(args.close_bound)]
        argv += ["--rtsp", args.rtsp] if args.rtsp else []
        argv += ["--driver", args.driver] if args.driver else []
        argv += ["--screenshot", args.screenshot] if args.screenshot else []
        argv += ["--keep"] if args.keep else []
        # Ctrl+C reaches vlan.sh too, which stops the scenario and removes
        # the LAN; wait for that rather than leaving first.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        code = subprocess.call(argv)
        if code == camlab.SKIP:
            print("SKIP: the virtual LAN could not be created here (see the message above)",
                  flush=True)
        return code

    def on_alarm(signum, frame):
        raise Failure(f"the scenario did not finish within {SCENARIO_LIMIT_S} s")

    def on_term(signum, frame):
        raise Failure(f"stopped by signal {signum}")

    signal.signal(signal.SIGALRM, on_alarm)
    signal.signal(signal.SIGTERM, on_term)
    signal.alarm(SCENARIO_LIMIT_S)
    log(f"scenario {args.scenario} on {os.environ.get('QD_VLAN_NAME')} "
        f"(tool {os.environ.get('QD_VLAN_TOOL_IP')}, cameras {os.environ.get('QD_VLAN_CAMS_IPS')})")
    try:
        with Lab(args.app, args.camsim, args.rtsp, keep=args.keep) as lab:
            function(lab, args)
    except Skip as skip:
        print(f"SKIP: {skip}", flush=True)
        return camlab.SKIP
    except Failure as failure:
        print(f"FAIL: {args.scenario}: {failure}", flush=True)
        return 1
    except Exception:
        traceback.print_exc()
        print(f"FAIL: {args.scenario}: the harness met an error (above)", flush=True)
        return 1
    finally:
        signal.alarm(0)
    print(f"PASS: {args.scenario}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
