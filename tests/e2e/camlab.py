"""A camera lab on a virtual LAN: the real search tool under an X server,
simulated cameras, an RTSP test server and a packet capture, driven the way a
person drives the tool.

Runs inside the tool's network namespace made by scripts/vlan.sh (variables
QD_VLAN_*). The cameras, the RTSP server and the capture run in the cameras'
namespace through `ip netns exec`; with a second camera LAN (vlan.sh --lans 2)
cameras and a capture can run on either LAN (lan=0 or lan=1). Everything started here is registered with
its PID and stopped by that PID when the lab closes; every wait has a deadline.

Input goes through the X server's test extension (xdotool), as from a real
mouse and keyboard. What the window shows is read through the accessibility
tree (AT-SPI: window titles, button names, table cells, edit texts, positions
and sizes, as a screen reader sees them) and through screenshots (pixels).
What the cameras receive is read from a packet capture on the camera host's
interface and from the simulator's own report.

Only the standard library and Debian's python3-pyatspi are used; the module
runs with /usr/bin/python3.
"""

import ctypes
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77

COMMAND_PORT = 5050
TOOL_PORT = 8089

REQUEST_MAGIC = bytes.fromhex("d3edcbb3")
REPLY_MAGIC = bytes.fromhex("d4edcbb3")
ALT_SIGNATURE = b"Kelmora\0"
MODIFY_MAGIC = bytes.fromhex("d3edcbff")

COLUMNS = ["NO.", "Dev ID", "Name", "IP", "Port", "MAC", "App Ver", "Hardware Ver",
           "Kernel Ver", "Mask", "Web Port", "Gateway"]
# --list --format json: the keys of the twelve columns, then the arrival
# interface, the flags and seen_via; the NO., Port and Web Port values are
# numbers.
JSON_KEYS = ["no", "dev_id", "name", "ip", "port", "mac", "app_ver", "hardware_ver",
             "kernel_ver", "mask", "web_port", "gateway"]
JSON_NUMBERS = {"no", "port", "web_port"}


class Skip(Exception):
    """The lab cannot run on this machine; the message says why."""


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", flush=True)


# ---------------------------------------------------------------------------
# The camera protocol, written from its byte layouts (not from the tool's code)


def time_seeded_draw(seconds):
    """srand(seconds) followed by rand() of the runtime's linear congruential
    generator: the search ID of a search and the stamp of a modify record."""
    state = (seconds * 214013 + 2531011) & 0xFFFFFFFF
    return (state >> 16) & 0x7FFF


def draws_between(t0, t1):
    """Every value the time-seeded draw can give between two wall-clock times."""
    return {time_seeded_draw(s) for s in range(int(t0) - 1, int(t1) + 2)}


def _text_at(buffer, offset):
    # A text runs from its offset to the first zero byte of the buffer, which
    # is zero beyond the datagram.
    end = buffer.index(0, offset)
    return buffer[offset:end].decode("gbk", errors="replace")


def _pairs(raw, separator):
    return separator.join(f"{b:02x}" for b in raw)


def reply_cells(datagram):
    """The eleven cell texts (Dev ID .. Gateway) a DeviceInfoReply gives."""
    buffer = bytes(datagram[:380]) + bytes(1024 - min(len(datagram), 380))
    dev_id = buffer[23:31]
    return [
        _pairs(dev_id[:4], "") + "-" + _pairs(dev_id[4:], ""),
        _text_at(buffer, 106),
        _text_at(buffer, 39),
        str(struct.unpack_from("<H", buffer, 172)[0]),
        _pairs(buffer[69:75], ":"),
        _text_at(buffer, 206),
        _pairs(buffer[174:182], ":"),
        _text_at(buffer, 252),
        _text_at(buffer, 76),
        str(struct.unpack_from("<H", buffer, 170)[0]),
        _text_at(buffer, 364),
    ]


def reply_search_id(datagram):
    buffer = bytes(datagram[:380]) + bytes(max(0, 252 - len(datagram)))
    return struct.unpack_from("<I", buffer, 248)[0]


def reply_signed(datagram):
    return datagram[:4] == REPLY_MAGIC or datagram[:8] == ALT_SIGNATURE


def expected_rows(replies, search_id):
    """The rows a search shows for the replies that reached the tool, in
    arrival order: replies of the current search with a signature, one row
    per device ID, numbered from 0."""
    rows, seen = [], set()
    for data in replies:
        if not 0 < len(data) <= 380 or reply_search_id(data) != search_id:
            continue
        if not reply_signed(data):
            continue
        cells = reply_cells(data)
        if cells[0] in seen:
            continue
        seen.add(cells[0])
        rows.append([str(len(rows))] + cells)
    return rows


def modify_record(mode, dev_id_text, ip, mask, gateway, mac_text, stamp):
    """The 88-byte modify datagram: magic, mode at 12, device ID at 13, zero
    tail, three 16-byte texts at 29, 45 and 61, MAC at 77, stamp at 84."""
    record = bytearray(88)
    record[0:4] = MODIFY_MAGIC
    record[12] = mode
    record[13:21] = bytes.fromhex(dev_id_text.replace("-", ""))
    for offset, text in ((29, ip), (45, mask), (61, gateway)):
        raw = text.encode("ascii")
        check(len(raw) <= 15, f"{text!r} does not fit a 16-byte field")
        record[offset:offset + len(raw)] = raw
    record[77:83] = bytes.fromhex(mac_text.replace(":", ""))
    struct.pack_into("<I", record, 84, stamp)
    return bytes(record)


# ---------------------------------------------------------------------------
# Packet capture on the camera host's interface (runs in the cameras'
# namespace as `camlab.py sniff`)

PACKET_OUTGOING = 4


def sniff_main(argv):
    iface, seconds = argv[0], float(argv[1])
    raw = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0003))
    raw.bind((iface, 0))
    raw.settimeout(0.2)
    print(json.dumps({"ready": True}), flush=True)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            frame, address = raw.recvfrom(65535)
        except socket.timeout:
            continue
        if len(frame) < 42 or frame[12:14] != b"\x08\x00":
            continue
        ip = frame[14:]
        header = (ip[0] & 0x0F) * 4
        if ip[9] != 17 or len(ip) < header + 8:
            continue
        total = struct.unpack_from("!H", ip, 2)[0]
        sport, dport, length = struct.unpack_from("!HHH", ip, header)
        if COMMAND_PORT not in (sport, dport) and TOOL_PORT not in (sport, dport):
            continue
        payload = ip[header + 8:min(total, header + length)]
        print(json.dumps({
            "t": time.time(),
            "out": address[2] == PACKET_OUTGOING,
            "src": socket.inet_ntoa(ip[12:16]), "dst": socket.inet_ntoa(ip[16:20]),
            "sport": sport, "dport": dport, "hex": payload.hex(),
        }), flush=True)


# ---------------------------------------------------------------------------
# A host that answers every RTSP request with 401 and logs what it receives
# (runs in the cameras' namespace as `camlab.py rtsplog ADDRESS SECONDS`): it
# shows whether a client sent it credentials meant for another host.

def rtsplog_main(argv):
    address, seconds = argv[0], float(argv[1])
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((address, 554))
    server.listen(8)
    server.settimeout(0.2)
    print(json.dumps({"ready": True}), flush=True)
    deadline = time.monotonic() + seconds
    clients = []
    while time.monotonic() < deadline:
        try:
            client, peer = server.accept()
            client.settimeout(0.05)
            clients.append(client)
            print(json.dumps({"connected": peer[0]}), flush=True)
        except socket.timeout:
            pass
        for client in list(clients):
            try:
                data = client.recv(4096)
            except socket.timeout:
                continue
            except OSError:
                data = b""
            if not data:
                clients.remove(client)
                client.close()
                continue
            print(json.dumps({"received": data.decode("latin-1")}), flush=True)
            cseq = re.search(rb"CSeq:\s*(\d+)", data)
            client.sendall(b"RTSP/1.0 401 Unauthorized\r\nCSeq: " +
                           (cseq.group(1) if cseq else b"1") +
                           b"\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n")
    for client in clients:
        client.close()


# ---------------------------------------------------------------------------
# Processes


class Lines:
    """Collects a process's output lines on a thread; waits for a pattern."""

    def __init__(self, stream, copy_to=None):
        self.lines = []
        self._cond = threading.Condition()
        self._copy = copy_to
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for raw in stream:
            line = raw.decode("utf-8", errors="replace").rstrip("\n")
            if self._copy:
                self._copy.write(line + "\n")
                self._copy.flush()
            with self._cond:
                self.lines.append(line)
                self._cond.notify_all()

    def wait_for(self, pattern, timeout, start=0):
        """The first line from index `start` on that matches, or None."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for line in self.lines[start:]:
                    if regex.search(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self._cond.wait(left)

    def count(self):
        with self._cond:
            return len(self.lines)

    def since(self, start):
        with self._cond:
            return list(self.lines[start:])


class Process:
    def __init__(self, name, popen, own_group, log_path):
        self.name, self.popen, self.own_group, self.log_path = name, popen, own_group, log_path
        self.lines = None

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def stop(self, grace=3.0):
        """SIGTERM, then SIGKILL after the grace time; always by this PID (or
        by the process group this lab created for it)."""
        def send(sig):
            try:
                if self.own_group:
                    os.killpg(self.popen.pid, sig)
                elif self.popen.poll() is None:
                    os.kill(self.popen.pid, sig)
            except (ProcessLookupError, PermissionError):
                pass
        if self.popen.poll() is None or self.own_group:
            send(signal.SIGTERM)
            try:
                self.popen.wait(grace)
            except subprocess.TimeoutExpired:
                pass
            send(signal.SIGKILL)
        try:
            self.popen.wait(2)
        except subprocess.TimeoutExpired:
            log(f"warning: {self.name} (pid {self.popen.pid}) did not end")


# ---------------------------------------------------------------------------
# The X server, input and pixels


class Screen:
    def __init__(self, display):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True,
                       timeout=10, stdout=subprocess.DEVNULL)

    def click(self, x, y, repeat=1):
        # No --sync: it waits forever when the pointer is already there. The
        # X server takes the motion and the click in order anyway.
        args = ["mousemove", int(x), int(y), "click"]
        if repeat > 1:
            args += ["--repeat", repeat, "--delay", 120]
        self.xdotool(*args, 1)
        time.sleep(0.15)

    def click_center(self, extents, repeat=1):
        x, y, w, h = extents
        self.click(x + w // 2, y + h // 2, repeat)

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)
        time.sleep(0.1)

    def click_with(self, modifier, extents, button=1):
        """A click with a modifier key held (ctrl, shift) or another button."""
        x, y, w, h = extents
        args = ["mousemove", x + w // 2, y + h // 2]
        if modifier:
            args += ["keydown", modifier]
        args += ["click", button]
        if modifier:
            args += ["keyup", modifier]
        self.xdotool(*args)
        time.sleep(0.15)

    def type_text(self, text):
        self.xdotool("type", "--delay", 40, text)
        time.sleep(0.1)

    def find_window(self, title, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            result = subprocess.run(
                ["xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(title)}$"],
                env=self.env, capture_output=True, text=True, timeout=10)
            ids = result.stdout.split()
            if ids:
                return int(ids[0])
            time.sleep(0.2)
        raise Failure(f"no window titled {title!r} appeared within {timeout} s")

    def geometry(self, window):
        """(x, y, width, height) of a window's area on the screen."""
        out = subprocess.run(["xwininfo", "-id", str(window)], env=self.env,
                             capture_output=True, text=True, timeout=10, check=True).stdout
        value = {k: int(re.search(rf"{k}:\s+(-?\d+)", out).group(1))
                 for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")}
        return (value["Absolute upper-left X"], value["Absolute upper-left Y"],
                value["Width"], value["Height"])

    def resize(self, window, width, height):
        self.xdotool("windowsize", "--sync", window, width, height)

    def close_window(self, window):
        """Asks the window to close, as a window manager does when its close
        box is clicked: a WM_DELETE_WINDOW client message."""
        xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XInternAtom.restype = ctypes.c_ulong
        xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                    ctypes.c_long, ctypes.c_void_p]
        xlib.XFlush.argtypes = [ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                        ("pad", ctypes.c_long * 12)]  # an XEvent is 24 longs

        dpy = xlib.XOpenDisplay(self.display.encode())
        check(dpy, f"cannot open display {self.display}")
        try:
            event = ClientMessage()
            event.type = 33  # ClientMessage
            event.window = window
            event.message_type = xlib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
            event.format = 32
            event.data[0] = xlib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
            event.data[1] = 0  # CurrentTime
            xlib.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
            xlib.XFlush(dpy)
        finally:
            xlib.XCloseDisplay(dpy)

    def screenshot(self, path, window="root"):
        subprocess.run(["import", "-window", str(window), path], env=self.env,
                       check=True, timeout=20)

    def grab(self):
        """The whole screen as (width, height, RGB bytes)."""
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                              env=self.env, capture_output=True, check=True,
                              timeout=20).stdout
        match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        check(match, "the screen grab is no PPM image")
        width, height = int(match.group(1)), int(match.group(2))
        return width, height, data[match.end():]


class Region:
    """A rectangle of a screen grab, for pixel checks."""

    def __init__(self, grab, extents):
        self.width, self.height, self.rgb = grab
        self.x, self.y, self.w, self.h = extents

    def pixel(self, x, y):
        """The colour at (x, y) relative to the region's top left corner."""
        i = ((self.y + y) * self.width + self.x + x) * 3
        return tuple(self.rgb[i:i + 3])

    def pixels(self, step=2):
        for y in range(0, self.h, step):
            for x in range(0, self.w, step):
                yield self.pixel(x, y)

    def black_fraction(self):
        values = list(self.pixels())
        return sum(1 for p in values if max(p) < 24) / max(1, len(values))

    def colour_classes(self):
        """How many pixels fall into each of the saturated primary and
        secondary colours (the bars of a colour-bar test pattern)."""
        classes = {}
        for r, g, b in self.pixels():
            hi = max(r, g, b)
            if hi < 100:
                continue
            key = tuple(int(c > hi * 0.55) for c in (r, g, b))
            classes[key] = classes.get(key, 0) + 1
        return classes


# ---------------------------------------------------------------------------
# The accessibility tree


class Accessibility:
    def __init__(self):
        import pyatspi  # Debian's python3-pyatspi
        from gi.repository import Atspi
        self.pyatspi, self.Atspi = pyatspi, Atspi

    def application(self, name, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            desktop = self.pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == name:
                    # Read every property afresh: the window changes under us.
                    app.set_cache_mask(self.Atspi.Cache.NONE)
                    return app
            time.sleep(0.2)
        raise Failure(f"the program {name!r} did not show up in the accessibility tree")

    def role(self, acc):
        return acc.getRoleName()

    def children(self, acc):
        acc.clearCache()
        return [c for c in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if c]

    def descendants(self, acc, depth=8):
        out = []
        for child in self.children(acc):
            out.append(child)
            if depth > 1:
                out += self.descendants(child, depth - 1)
        return out

    def find_all(self, root, role=None, name=None, depth=8):
        return [a for a in self.descendants(root, depth)
                if (role is None or a.getRoleName() == role)
                and (name is None or (name(a.name) if callable(name) else a.name == name))]

    def find(self, root, role=None, name=None, timeout=10, depth=8):
        deadline = time.monotonic() + timeout
        while True:
            found = self.find_all(root, role, name, depth)
            if found:
                return found[0]
            if time.monotonic() > deadline:
                raise Failure(f"nothing with role {role!r} and name {name!r} appeared "
                              f"within {timeout} s")
            time.sleep(0.2)

    def extents(self, acc):
        e = acc.queryComponent().getExtents(self.pyatspi.DESKTOP_COORDS)
        return (e.x, e.y, e.width, e.height)

    def checked(self, acc):
        return acc.getState().contains(self.pyatspi.STATE_CHECKED)

    def text(self, acc):
        return acc.queryText().getText(0, -1)

    def table_rows(self, table):
        t = table.queryTable()
        rows = []
        for r in range(t.nRows):
            rows.append([t.getAccessibleAt(r, c).name for c in range(t.nColumns)])
        return rows

    def cell(self, table, row, column):
        return table.queryTable().getAccessibleAt(row, column)


# ---------------------------------------------------------------------------
# The lab


class Lab:
    """The virtual LAN's processes around one run of the tool."""

    def __init__(self, app, camsim, rtsp=None, headless=True, workdir=None, keep=False):
        for var in ("QD_VLAN_TOOL_NS", "QD_VLAN_CAMS_NS", "QD_VLAN_TOOL_IP", "QD_VLAN_PREFIX"):
            if not os.environ.get(var):
                raise Skip(f"{var} is not set: run inside scripts/vlan.sh run --in tool")
        self.cams_ns = os.environ["QD_VLAN_CAMS_NS"]
        self.tool_ip = os.environ["QD_VLAN_TOOL_IP"]
        self.prefix = os.environ["QD_VLAN_PREFIX"]
        self.cams_ips = os.environ.get("QD_VLAN_CAMS_IPS", self.prefix + ".2").split()
        # Per camera LAN: its namespace, the tool's address on it and its /24.
        self.lans = [(self.cams_ns, self.tool_ip, self.prefix)]
        if os.environ.get("QD_VLAN_CAMS2_NS"):
            self.lans.append((os.environ["QD_VLAN_CAMS2_NS"], os.environ["QD_VLAN_TOOL_IP2"],
                              os.environ["QD_VLAN_PREFIX2"]))
        self.sniffers = {}
        self.app_path, self.camsim_path, self.rtsp_path = app, camsim, rtsp
        self.headless = headless
        self.dir = workdir or tempfile.mkdtemp(prefix="qd-e2e-")
        os.makedirs(self.dir, exist_ok=True)
        os.chmod(self.dir, 0o700)
        self.keep = keep
        self.processes = []
        self.camsim = None
        self.sniffer = None
        self.app = None
        self.screen = None
        self.a11y = None
        self.env = dict(os.environ)
        # What start_display changes in this process's environment, restored by close.
        self.saved_environ = {}
        # Rollback plans of settings runs go to the lab's folder, not the
        # user's state directory (Wine maps LOCALAPPDATA under its prefix).
        self.env["XDG_STATE_HOME"] = self.dir
        if headless:
            # A private X server and session bus: nothing of the caller's.
            # No program of the lab can reach the caller's display or buses,
            # not even one started before the lab's display is known.
            self.env["XDG_RUNTIME_DIR"] = self.dir
            for var in ("SESSION_MANAGER", "WAYLAND_DISPLAY", "DISPLAY", "XAUTHORITY",
                        "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
                self.env.pop(var, None)
        # Processes whose parent ends first (the accessibility bus launched by
        # the session bus) become this process's children, so they are reaped
        # here rather than left as zombies.
        PR_SET_CHILD_SUBREAPER = 36
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)

    # The camera with number n in the simulator has the IP 10.<n's low three
    # bytes>; this base puts camera i at <prefix>.(2 + first + i).
    def camera_base(self, first=0, lan=0):
        a, b = (int(x) for x in self.lans[lan][2].split(".")[1:3])
        return (a << 16) | (b << 8) | (2 + first)

    def camera_ip(self, index, lan=0):
        return f"{self.lans[lan][2]}.{2 + index}"

    def tool_ip_on(self, lan):
        return self.lans[lan][1]

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        self.close(failed=kind is not None)
        return False

    def start(self, name, argv, own_group=False, capture=False, cwd=None, env=None):
        log_path = os.path.join(self.dir, f"{name}.log")
        log_file = open(log_path, "ab")
        popen = subprocess.Popen(
            argv, cwd=cwd or self.dir, env=env or self.env, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE if capture else log_file, stderr=log_file,
            start_new_session=own_group)
        log_file.close()
        process = Process(name, popen, own_group, log_path)
        if capture:
            process.lines = Lines(popen.stdout, open(log_path, "a"))
        self.processes.append(process)
        return process

    def in_cams(self, *argv, lan=0):
        return ["ip", "netns", "exec", self.lans[lan][0], *argv]

    # -- display, session bus and accessibility bus

    def private_x_sockets(self):
        """Gives this process's mount namespace (the one `ip netns exec` made
        for the scenario, never the host's) its own X socket folder, so that
        an X server of another lab that was given the same display number
        cannot take over or remove this lab's socket. False where that cannot
        be done (then the X server listens on its abstract socket only, which
        is private to the network namespace)."""
        try:
            if os.stat("/proc/self/ns/mnt").st_ino == os.stat("/proc/1/ns/mnt").st_ino:
                return False  # the host's mount namespace: leave it alone
        except OSError:
            return False
        if os.path.ismount("/tmp/.X11-unix"):
            return True  # done before, in this namespace
        os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
        mounted = subprocess.run(
            ["mount", "-t", "tmpfs", "-o", "mode=1777,size=1m", "qd-e2e-x11", "/tmp/.X11-unix"],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
        return mounted.returncode == 0

    def start_display(self, accessibility=True, screen="1280x1024x24"):
        """The lab's X server (one screen of that size); with accessibility,
        a session bus and the accessibility bus too (the Qt window's tests
        read it)."""
        if not self.headless:
            self.screen = Screen(os.environ["DISPLAY"])
            return
        check(self.env.get("DISPLAY") is None, "the lab's display was started twice")
        listen = ["-nolisten", "tcp"]
        listen += [] if self.private_x_sockets() else ["-nolisten", "unix"]
        read_fd, write_fd = os.pipe()
        log_file = open(os.path.join(self.dir, "xvfb.log"), "ab")
        popen = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen, *listen],
            pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=log_file, stderr=log_file,
            cwd=self.dir)
        log_file.close()
        os.close(write_fd)
        self.processes.append(Process("xvfb", popen, False, os.path.join(self.dir, "xvfb.log")))
        number = b""
        deadline = time.monotonic() + 15
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        check(number.strip().isdigit(), "Xvfb did not report its display number")
        display = ":" + number.decode().strip()
        self.env["DISPLAY"] = display
        self.screen = Screen(display)
        if not accessibility:
            return

        bus = os.path.join(self.dir, "bus")
        self.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                            f"--address=unix:path={bus}"], own_group=True)
        deadline = time.monotonic() + 10
        while not os.path.exists(bus) and time.monotonic() < deadline:
            time.sleep(0.05)
        check(os.path.exists(bus), "the session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={bus}"
        # The accessibility client in this process reads them from its
        # environment; close puts back what was there.
        for var, value in (("DBUS_SESSION_BUS_ADDRESS", self.env["DBUS_SESSION_BUS_ADDRESS"]),
                           ("DISPLAY", display), ("XDG_RUNTIME_DIR", self.dir)):
            self.saved_environ.setdefault(var, os.environ.get(var))
            os.environ[var] = value
        # The accessibility bus, started (by the session bus, on this first
        # request) before the program, so that the program finds it.
        deadline = time.monotonic() + 15
        while True:
            probe = subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                 "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                env=self.env, capture_output=True, text=True, timeout=10)
            if probe.returncode == 0 and "unix:" in probe.stdout:
                break
            check(time.monotonic() < deadline, "the accessibility bus did not start")
            time.sleep(0.2)
        self.a11y = Accessibility()
        # Starts the accessibility registry now, so that the program finds it
        # when it registers its windows.
        self.a11y.pyatspi.Registry.getDesktop(0).childCount

    # -- cameras

    def start_sniffer(self, seconds=300, lan=0):
        sniffer = self.start(
            "capture" if lan == 0 else f"capture{lan + 1}",
            self.in_cams("/usr/bin/python3", os.path.abspath(__file__), "sniff", "lan0",
                         str(seconds), lan=lan), capture=True)
        check(sniffer.lines.wait_for(r'"ready"', 10), "the packet capture did not start")
        self.sniffers[lan] = sniffer
        if lan == 0:
            self.sniffer = sniffer
        return sniffer

    def captured(self, start=0, lan=0):
        """Datagrams seen on the camera host's interface, as dicts with
        'data' (bytes), from capture line `start` on."""
        out = []
        for line in self.sniffers[lan].lines.since(start):
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if "hex" in record:
                record["data"] = bytes.fromhex(record["hex"])
                out.append(record)
        return out

    def capture_mark(self, lan=0):
        return self.sniffers[lan].lines.count()

    def start_camsim(self, cameras, first=0, modes=None, seconds=240, name="camsim", lan=0,
                     extra=(), own_address=True):
        """Simulated cameras; `extra` are more camsim options (--restart-ms,
        --silent-after-modify, --miss-every, --spoof ...). Like real cameras,
        each answers from its own address unless own_address is false (then
        every reply leaves from the camera host's address)."""
        argv = [self.camsim_path, "--cameras", str(cameras), "--base",
                str(self.camera_base(first, lan)), "--max-time", str(seconds), *map(str, extra)]
        if own_address:
            argv += ["--own-address", "lan0"]
        if modes:
            argv += ["--mode", ",".join(modes)]
        self.camsim = self.start(name, self.in_cams(*argv, lan=lan), capture=True)
        check(self.camsim.lines.wait_for(r"listening on", 10),
              "camsim did not start: " + " | ".join(self.camsim.lines.since(0)))
        return self.camsim

    def start_onvifsim(self, devices, first=0, ip_first=None, variant="all", seconds=240,
                       name="onvifsim", lan=0, extra=(), base=None):
        """Simulated ONVIF devices (tools/onvifsim, built beside camsim): device
        i has the MAC and endpoint of camera number camera_base(first) + i and
        the address of camera_base(ip_first) + i (default: its own), so that a
        device at a camera's number is that camera answering both protocols.
        Each answers probes on lan0 from its own address; base, when given,
        is the first device's number whatever its address."""
        path = os.path.join(os.path.dirname(os.path.dirname(self.camsim_path)), "onvifsim",
                            "onvifsim")
        check(os.access(path, os.X_OK), f"{path} is not built")
        base = self.camera_base(first, lan) if base is None else base
        argv = [path, "--devices", str(devices), "--base", str(base),
                "--variant", variant, "--interface", "lan0", "--own-address", "lan0",
                "--max-time", str(seconds), *map(str, extra)]
        if ip_first is not None:
            argv += ["--ip-base", str(self.camera_base(ip_first, lan))]
        sim = self.start(name, self.in_cams(*argv, lan=lan), capture=True)
        check(sim.lines.wait_for(r"onvifsim: \d+ devices", 10),
              "onvifsim did not start: " + " | ".join(sim.lines.since(0)))
        return sim

    def stop_camsim(self):
        if self.camsim:
            self.camsim.stop()
            self.camsim = None

    def start_rtsplog(self, address, seconds=240, lan=0):
        """A host at address:554 that answers 401 and logs what it receives."""
        host = self.start("rtsplog", self.in_cams(
            "/usr/bin/python3", os.path.abspath(__file__), "rtsplog", address, str(seconds),
            lan=lan), capture=True)
        check(host.lines.wait_for(r'"ready"', 10), "the logging RTSP host did not start")
        return host

    def start_rtsp(self, host_ip, seconds=240, *extra, bind="0.0.0.0"):
        """Serves the test pattern at rtsp://host_ip/channel1/1; extra are
        more options of the server (--credentials, --stop-after)."""
        check(self.rtsp_path and os.path.exists(self.rtsp_path),
              "the RTSP test server is not built")
        server = self.start("rtsp", self.in_cams(
            self.rtsp_path, "--address", bind, "--port", "554", "--path", "/channel1/1",
            "--timeout", str(seconds), *map(str, extra)), capture=True)
        check(server.lines.wait_for(r"^ready rtsp://", 15),
              "the RTSP test server did not start (see rtsp.log)")
        return f"rtsp://{host_ip}/channel1/1"

    # -- the program

    def start_app(self):
        env = dict(self.env)
        if self.headless:
            # Started before its display, the program would look for another one.
            check(env.get("DISPLAY"), "the program was started before the lab's display")
            env.update(QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                       QT_ACCESSIBILITY="1")
        # --no-firewall: from a namespace the firewall command would still reach
        # the host's firewall (firewalld over the system bus, ufw's rule files).
        self.app = self.start("app", [self.app_path, "--no-firewall"], env=env)
        return self.app

    def run_cli(self, *args, timeout=30, raw=False):
        """Runs the program's command line to its end, without a display or a
        session bus (none is needed), in the lab's folder (a Windows build
        under Wine); the finished process with its exit code and its output
        as text, or as bytes when raw."""
        env = {k: v for k, v in self.env.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                            "QT_QPA_PLATFORM")}
        argv = [self.app_path, *map(str, args)]
        if self.app_path.endswith((".exe", ".com")):  # the Windows build, under Wine
            root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
            argv.insert(0, os.path.join(root, "scripts", "wine-run.sh"))
        try:
            return subprocess.run(argv, cwd=self.dir, env=env,
                                  stdin=subprocess.DEVNULL, capture_output=True, text=not raw,
                                  errors=None if raw else "replace", timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"qd_ip_search {' '.join(map(str, args))} ran longer than {timeout} s")

    def reap_orphans(self, timeout=3.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                time.sleep(0.05)

    def close(self, failed=False):
        if failed and self.screen and self.headless:
            try:
                self.screen.screenshot(os.path.join(self.dir, "failure.png"))
            except (subprocess.SubprocessError, OSError):
                pass
        if failed and self.app and self.app.running() and shutil.which("gdb"):
            # Where the program's threads are, for a program that stopped
            # reacting.
            with open(os.path.join(self.dir, "app-threads.txt"), "w") as out:
                try:
                    subprocess.run(["gdb", "-p", str(self.app.pid), "-batch", "-ex",
                                    "thread apply all bt 20"], stdout=out,
                                   stderr=subprocess.STDOUT, timeout=60)
                except subprocess.SubprocessError:
                    pass
        for process in reversed(self.processes):
            process.stop()
        self.processes.clear()
        self.reap_orphans()
        for var, value in self.saved_environ.items():
            if value is None:
                os.environ.pop(var, None)
            else:
                os.environ[var] = value
        self.saved_environ.clear()
        if failed or self.keep:
            log(f"the lab's files are kept in {self.dir}")
            for name in ("app", "camsim", "camsim-b", "camsim-lan2", "camsim-factory",
                         "camsim-configured", "camsim-spoof", "rtsp"):
                path = os.path.join(self.dir, f"{name}.log")
                if failed and os.path.exists(path):
                    with open(path, errors="replace") as f:
                        tail = f.readlines()[-15:]
                    if tail:
                        log(f"--- last lines of {name}.log ---")
                        sys.stdout.write("".join(tail))
        else:
            shutil.rmtree(self.dir, ignore_errors=True)


class MainWindow:
    """The tool's main window as a person sees it."""

    def __init__(self, lab, timeout=20):
        self.lab, self.a11y, self.screen = lab, lab.a11y, lab.screen
        self.app_acc = self.a11y.application("qd_ip_search", timeout)
        self.acc = self.a11y.find(self.app_acc, "dialog", "Search Tool", timeout, depth=1)
        self.window = self.screen.find_window("Search Tool", timeout)

    def button(self, name):
        return self.a11y.find(self.acc, "push button", name, timeout=5, depth=1)

    def press(self, name):
        self.screen.click_center(self.a11y.extents(self.button(name)))

    def table(self):
        return self.a11y.find(self.acc, "table", timeout=5, depth=1)

    def pane(self):
        # The video pane is the one plain area among the window's controls.
        return self.a11y.find(self.acc, "filler", timeout=5, depth=1)

    def rows(self):
        return self.a11y.table_rows(self.table())

    def progress_text(self):
        """The text the progress bar shows (its tooltip, which screen readers
        read as its description)."""
        bar = self.a11y.find(self.acc, "progress bar", timeout=5, depth=1)
        bar.clearCache()
        return bar.description

    def wait_progress_text(self, pattern, timeout):
        """The progress bar's text once it matches `pattern`, or a failure
        naming what it showed."""
        deadline = time.monotonic() + timeout
        seen = []
        while True:
            text = self.progress_text()
            if not seen or seen[-1] != text:
                seen.append(text)
            if re.search(pattern, text):
                return text
            if time.monotonic() > deadline:
                raise Failure(f"the progress bar never showed {pattern!r} within {timeout} s; "
                              f"it showed {seen}")
            time.sleep(0.1)

    def wait_rows(self, count, timeout=10, settle=0.8):
        """Waits until the list holds `count` rows and stays so for `settle`
        seconds; returns the rows as they are then (maybe more or fewer)."""
        deadline = time.monotonic() + timeout
        rows = self.rows()
        while len(rows) < count and time.monotonic() < deadline:
            time.sleep(0.15)
            rows = self.rows()
        time.sleep(settle)
        return self.rows()

    def click_row(self, row, repeat=1, column=3):
        cell = self.a11y.cell(self.table(), row, column)
        self.screen.click_center(self.a11y.extents(cell), repeat)

    def search(self, count, timeout=6):
        """Presses Search once and expects `count` rows: every camera that
        answers is listed by that one search, the first one included."""
        self.press("Search")
        rows = self.wait_rows(count, timeout)
        log(f"Search pressed: {len(rows)} of {count} cameras listed")
        check(len(rows) == count, f"one search listed {len(rows)} cameras, expected {count}")
        return rows

    def origin(self):
        x, y, _, _ = self.screen.geometry(self.window)
        return x, y

    def relative(self, extents):
        ox, oy = self.origin()
        x, y, w, h = extents
        return (x - ox, y - oy, w, h)

    def message_box(self, text, timeout=10):
        """The message box showing `text` (any top-level window of the
        program with that label), or a failure."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for top in self.a11y.children(self.app_acc):
                if top.name == "Search Tool" or top.name.startswith("Set"):
                    continue
                if self.a11y.find_all(top, "label", text, depth=4):
                    return top
            time.sleep(0.2)
        tops = [(t.getRoleName(), t.name) for t in self.a11y.children(self.app_acc)]
        raise Failure(f"no message box showing {text!r} within {timeout} s (windows: {tops})")

    def pane_text(self):
        """The line the video pane shows instead of a picture ("" when none)."""
        labels = self.a11y.find_all(self.pane(), "label", depth=2)
        shown = [a for a in labels if a.getState().contains(self.a11y.pyatspi.STATE_SHOWING)]
        return shown[0].name if shown else ""

    def wait_pane_text(self, expected, timeout=15):
        deadline = time.monotonic() + timeout
        text = self.pane_text()
        while text != expected and time.monotonic() < deadline:
            time.sleep(0.2)
            text = self.pane_text()
        check(text == expected, f"the pane says {text!r}, expected {expected!r}")
        log(f"the pane says {text!r}")

    def video_region(self):
        return Region(self.screen.grab(), self.a11y.extents(self.pane()))

    def wait_for_video(self, timeout=25):
        """Waits until the pane shows the colour-bar test pattern, moving;
        returns the last region checked, or raises with what it showed."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            region = self.video_region()
            classes = region.colour_classes()
            bars = [k for k, n in classes.items() if n > 40]
            if len(bars) >= 5 and region.black_fraction() < 0.7:
                if last is not None and region.rgb != last.rgb:
                    return region
                last = region
            time.sleep(0.5)
        shown = self.video_region()
        raise Failure(f"the pane shows no moving test pattern after {timeout} s: "
                      f"black fraction {shown.black_fraction():.2f}, "
                      f"colour classes {shown.colour_classes()}")


def search_id_of_latest_request(lab, start=0, timeout=5, lan=0):
    """The search ID of the last discovery request the camera host received
    from capture line `start` on, with the position of that request."""
    deadline = time.monotonic() + timeout
    while True:
        requests = [(i, d) for i, d in enumerate(lab.captured(start, lan))
                    if not d["out"] and d["dport"] == COMMAND_PORT
                    and d["data"][:4] == REQUEST_MAGIC]
        if requests:
            index, record = requests[-1]
            return struct.unpack_from("<I", record["data"], 48)[0], index, record
        if time.monotonic() > deadline:
            raise Failure("the camera host received no discovery request")
        time.sleep(0.1)


def replies_after(lab, start, index, lan=0):
    """The replies the camera host sent after capture record `index`."""
    return [d["data"] for d in lab.captured(start, lan)[index + 1:]
            if d["out"] and d["dport"] == TOOL_PORT]


if __name__ == "__main__" and len(sys.argv) > 1 and sys.argv[1] == "sniff":
    sniff_main(sys.argv[2:])
if __name__ == "__main__" and len(sys.argv) > 1 and sys.argv[1] == "rtsplog":
    rtsplog_main(sys.argv[2:])
