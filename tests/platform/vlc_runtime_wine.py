#!/usr/bin/env python3
"""The run-time libvlc loader under Wine, with a stand-in libvlc.dll.

The stub (VlcStub.cpp) is put where an installed VLC lies: a folder named by
HKLM or HKCU\\Software\\VideoLAN\\VLC InstallDir (written with `wine reg add`
into the build's one Wine prefix), or C:\\Program Files\\VideoLAN\\VLC. The
probe (VlcRuntimeProbe.cpp) loads it as the window does and plays a camera's
preview; the stub logs the calls it got. The window probe (VlcWindowProbe.cpp)
does the same through the Windows window's pane, its Stream Info and Save
Snapshot…, on a private Xvfb display. The keys and folders are removed again
at the end. Exit 77 without Wine.
"""

import argparse
import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from winetest import Wine, windows_path  # noqa: E402

KEY = r"Software\VideoLAN\VLC"


def reg_add(wine, root, folder, view="64"):
    result = wine.run("reg", "add", root + "\\" + KEY, "/v", "InstallDir", "/t", "REG_SZ",
                      "/d", windows_path(folder), "/f", "/reg:" + view)
    if result.returncode != 0:
        sys.exit("reg add failed: %r" % result.stdout)


def reg_clear(wine, work):
    # The key in both roots and both registry views, in one import.
    wine.regedit([f"[-{root}\\Software\\{view}VideoLAN\\VLC]"
                  for root in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER")
                  for view in ("", "Wow6432Node\\")], work)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--window-run", required=True)
    parser.add_argument("--window-probe", required=True)
    parser.add_argument("--window-prefix", required=True)
    args = parser.parse_args()

    wine = Wine(args.wine_run, args.prefix)
    # The window's prefix is another: in one whose desktop was started
    # without a display (as every other program here runs), no window can
    # be made.
    window_wine = Wine(args.window_run, args.window_prefix)
    failures = []
    work = tempfile.mkdtemp(prefix="vlc-runtime-", dir=os.path.dirname(args.probe))
    program_files_videolan = os.path.join(args.prefix, "drive_c", "Program Files", "VideoLAN")
    program_files_vlc = os.path.join(program_files_videolan, "VLC")
    log = os.path.join(work, "calls.log")
    snapshot = os.path.join(work, "shot")  # the window adds ".png"

    def install(name, data=None):
        folder = os.path.join(work, name)
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "libvlc.dll")
        if data is None:
            shutil.copyfile(args.stub, target)
        else:
            with open(target, "wb") as out:
                out.write(data)
        return folder

    def probe(case, version=None, window=False, stop_ms=None, stream=None):
        if os.path.exists(log):
            os.remove(log)
        env = {"QDIPC_VLC_STUB_LOG": windows_path(log)}
        if stream is not None:
            env["QDIPC_VLC_STUB_STREAM"] = stream
        if stop_ms is not None:
            env["QDIPC_VLC_STUB_STOP_MS"] = str(stop_ms)
        if version is not None:
            env["QDIPC_VLC_STUB_VERSION"] = version
        if window:
            result = window_wine.run(args.window_probe, windows_path(snapshot), env=env)
        else:
            result = wine.run(args.probe, env=env)
        found = {"boxs": [], "logins": []}
        for line in result.stdout.decode(errors="replace").splitlines():
            key, _, value = line.partition(": ")
            if key in ("box", "login"):
                found[key + "s"].append(value.rstrip("\r"))
            else:
                found[key] = value.rstrip("\r")
        calls = open(log).read().splitlines() if os.path.exists(log) else []
        if result.returncode != 0:
            failures.append(f"{case}: probe exit status {result.returncode}: {result.stderr!r}")
        return found, calls

    def expect(case, what, got, wanted):
        if got != wanted:
            failures.append(f"{case}: {what}: got {got!r}, expected {wanted!r}")

    with open(args.stub, "rb") as f:
        stub = f.read()
    # The same library marked as built for 32-bit x86 (PE Machine 0x14c).
    pe = int.from_bytes(stub[0x3C:0x40], "little")
    x86 = stub[: pe + 4] + (0x14C).to_bytes(2, "little") + stub[pe + 6 :]

    try:
        reg_clear(wine, work)
        shutil.rmtree(program_files_vlc, ignore_errors=True)

        found, calls = probe("nothing installed")
        expect("nothing installed", "state", found.get("state"), "missing")
        expect("nothing installed", "reason", found.get("reason"),
               "No picture: VLC 3 (64-bit) is not installed")
        expect("nothing installed", "calls", calls, [])

        # HKLM names the folder: loaded, and the preview's calls in order.
        machine = install("machine")
        reg_add(wine, "HKLM", machine)
        user = install("user")
        reg_add(wine, "HKCU", user)
        found, calls = probe("HKLM")
        expect("HKLM", "state", found.get("state"), "loaded")
        expect("HKLM", "folder", found.get("folder"), windows_path(machine))
        expect("HKLM", "version", found.get("version"), "3.0.20 Vetinari")
        expect("HKLM", "reason", found.get("reason"), "")
        expect("HKLM", "play", found.get("play"), "started")
        expect("HKLM", "closed", found.get("closed"), "yes")
        wanted = ["libvlc_get_version",
                  "libvlc_new from " + windows_path(os.path.join(machine, "libvlc.dll"))]
        wanted += ["libvlc_new argument " + a for a in (
            "--ignore-config", "--aout=adummy", "--no-osd", "--no-spu", "--no-video-title-show",
            "--no-disable-screensaver", "--gl=none", "--gles2=none")]
        # The stream's events (vout, error, end, snapshot), attached before
        # it plays and detached after its stop, before its release; the
        # library's questions go to the preview while the instance lives.
        events = (274, 266, 265, 272)
        wanted += [
            "libvlc_dialog_set_callbacks instance set",
            "libvlc_media_new_location instance rtsp://10.77.0.21/channel1/1",
            "libvlc_media_add_option media :network-caching=300",
            "libvlc_media_player_new_from_media media",
            "libvlc_media_release media",
            "libvlc_media_player_event_manager player"]
        wanted += ["libvlc_event_attach events %d" % e for e in events]
        wanted += [
            "libvlc_media_player_set_hwnd player 0000000000001234",
            "libvlc_media_player_play player",
            "libvlc_media_player_stop player",
            "libvlc_media_player_event_manager player"]
        wanted += ["libvlc_event_detach events %d" % e for e in events]
        wanted += [
            "libvlc_media_player_release player",
            "libvlc_dialog_set_callbacks instance none",
            "libvlc_release instance",
        ]
        if [c.lower() for c in calls] != [w.lower() for w in wanted]:
            failures.append("HKLM: calls:\n  got      %s\n  expected %s"
                            % ("\n           ".join(calls), "\n           ".join(wanted)))

        # The window's pane: the same calls with the pane's handle, the
        # facts of the stub's stream in Stream Info, a snapshot asked for and
        # answered, and closing that waits for the release, bounded.
        reg_clear(window_wine, work)
        reg_add(window_wine, "HKLM", machine)
        found, calls = probe("window", window=True)
        expect("window", "pane", found.get("pane"), "")
        expect("window", "pane after the picture", found.get("pane-after"), "")
        played = [c for c in calls if not c.startswith("libvlc_new argument")]
        expect("window", "location", played[3:5], [
            "libvlc_media_new_location instance rtsp://10.77.0.21/channel1/1",
            "libvlc_media_add_option media :network-caching=300"])
        if not any(c.startswith("libvlc_media_player_set_hwnd player ") and
                   not c.endswith(" 0000000000000000") for c in calls):
            failures.append("window: no pane handle given: %r" % calls)
        expect("window", "proposed", (found.get("proposed") or "").rsplit("\\", 1)[-1][:11],
               "10.77.0.21-")
        boxes = found["boxs"]
        info = re.fullmatch(
            r"rtsp://10\.77\.0\.21/channel1/1 \| Codec: H264 - MPEG-4 AVC \(part 10\) \| "
            r"Resolution: 1280 × 720 \| Frame rate: \d+\.\d frames/s \| "
            r"Bitrate: [\d.]+ [kM]bit/s \| Lost or late frames: [1-9]\d*",
            found.get("info", ""))
        if not info:
            failures.append("window: Stream Info: %r" % found.get("info"))
        # The pane's tooltip says the same (as of the last reading).
        expect("window", "tooltip", found.get("tip", "").split(" | ")[:3],
               found.get("info", "").split(" | ")[:3])
        expect("window", "snapshot box", boxes,
               ["Snapshot saved: " + windows_path(snapshot) + ".png"])
        expect("window", "snapshot call",
               [c for c in calls if c.startswith("libvlc_video_take_snapshot")],
               ["libvlc_video_take_snapshot player 0 %s.png 0 0" % windows_path(snapshot)])
        expect("window", "calls end", calls[-3:], [
            "libvlc_media_player_release player", "libvlc_dialog_set_callbacks instance none",
            "libvlc_release instance"])
        expect("window", "stop before release",
               [c for c in calls if c.startswith("libvlc_media_player_stop")
                or c.startswith("libvlc_media_player_release")],
               ["libvlc_media_player_stop player", "libvlc_media_player_release player"])

        # The stream's failures in the pane's words, as the Linux pane says them.
        # A failure's cause is asked of the camera's RTSP port (the probe
        # answers "refused" without connecting).
        for stream, line, reach in (
                ("error", "No picture: 10.77.0.21 refused the connection on RTSP port 554",
                 "0a4d0015 554"),
                ("end", "Stream stopped", None)):
            found, calls = probe("window, " + stream, window=True, stream=stream)
            expect("window, " + stream, "pane", found.get("pane-after"), line)
            expect("window, " + stream, "asked", found.get("reach"), reach)
        # A camera that asks for a login: the library's question dismissed,
        # the "Camera login" prompt for its address once, and the camera
        # played again with the login as media options; the picture clears
        # the line.
        found, calls = probe("window, login", window=True, stream="login")
        expect("window, login", "prompts", found["logins"],
               ["10.77.0.21 []"])
        expect("window, login", "pane", found.get("pane-after"), "")
        expect("window, login", "asked", found.get("reach"), None)  # the player replaced
        expect("window, login", "dismissed", calls.count("libvlc_dialog_dismiss login"), 1)
        expect("window, login", "media",
               [c for c in calls if c.startswith("libvlc_media_new_location")
                or c.startswith("libvlc_media_add_option")], [
                   "libvlc_media_new_location instance rtsp://10.77.0.21/channel1/1",
                   "libvlc_media_add_option media :network-caching=300",
                   "libvlc_media_new_location instance rtsp://10.77.0.21/channel1/1",
                   "libvlc_media_add_option media :network-caching=300",
                   "libvlc_media_add_option media :rtsp-user=admin",
                   "libvlc_media_add_option media :rtsp-pwd=pw"])
        # A camera whose stop takes 20 s: the window waits 2 s for it, once,
        # not 20.
        found, calls = probe("window, silent camera", window=True, stop_ms=20000)
        if not 2000 <= int(found.get("close-ms", "99999")) < 3500:
            failures.append("window, silent camera: closing took %s ms" % found.get("close-ms"))
        expect("window, silent camera", "last call", calls[-1:],
               ["libvlc_media_player_stop player"])

        # Missing: the pane shows the loader's reason, Stream Info too.
        reg_clear(window_wine, work)
        found, calls = probe("window, nothing installed", window=True)
        expect("window, nothing installed", "pane", found.get("pane"),
               "No picture: VLC 3 (64-bit) is not installed")
        expect("window, nothing installed", "calls", calls, [])
        expect("window, nothing installed", "Stream Info", found.get("info"),
               "No picture: VLC 3 (64-bit) is not installed")
        expect("window, nothing installed", "boxes", found["boxs"],
               ["No picture: VLC 3 (64-bit) is not installed"])

        # The version is checked before anything is played.
        found, calls = probe("VLC 2", version="2.2.8 Weatherwax")
        expect("VLC 2", "state", found.get("state"), "wrong-version")
        expect("VLC 2", "reason", found.get("reason"),
               "No picture: VLC 3 (64-bit) is needed; the VLC installed is version 2.2.8")
        expect("VLC 2", "calls", calls, ["libvlc_get_version"])
        found, calls = probe("VLC 4", version="4.0.0-dev Otto Chriek")
        expect("VLC 4", "state", found.get("state"), "wrong-version")
        expect("VLC 4", "reason", found.get("reason"),
               "No picture: VLC 3 (64-bit) is needed; the VLC installed is version 4.0.0-dev")

        # HKLM's folder without libvlc.dll: HKCU's is next.
        os.remove(os.path.join(machine, "libvlc.dll"))
        found, calls = probe("HKCU")
        expect("HKCU", "state", found.get("state"), "loaded")
        expect("HKCU", "folder", found.get("folder"), windows_path(user))

        # No registry entry: %ProgramFiles%\VideoLAN\VLC.
        reg_clear(wine, work)
        os.makedirs(program_files_vlc)
        shutil.copyfile(args.stub, os.path.join(program_files_vlc, "libvlc.dll"))
        found, calls = probe("Program Files")
        expect("Program Files", "state", found.get("state"), "loaded")
        expect("Program Files", "folder", found.get("folder").lower(),
               r"c:\program files\videolan\vlc")
        shutil.rmtree(program_files_vlc)

        # A 32-bit VLC, named in the program's own registry view or in the
        # 32-bit programs' view only: the wrong bitness, nothing loaded.
        reg_add(wine, "HKLM", install("x86", x86))
        found, calls = probe("32-bit VLC")
        expect("32-bit VLC", "state", found.get("state"), "wrong-bitness")
        expect("32-bit VLC", "reason", found.get("reason"),
               "No picture: VLC 3 (64-bit) is needed; the VLC installed is 32-bit")
        expect("32-bit VLC", "calls", calls, [])
        reg_clear(wine, work)
        reg_add(wine, "HKLM", os.path.join(work, "x86"), view="32")
        found, calls = probe("32-bit VLC, 32-bit view")
        expect("32-bit VLC, 32-bit view", "state", found.get("state"), "wrong-bitness")

        # A damaged library of the right machine: it does not load.
        reg_clear(wine, work)
        reg_add(wine, "HKLM", install("damaged", stub[:4096]))
        found, calls = probe("damaged")
        expect("damaged", "state", found.get("state"), "unloadable")
        if not found.get("reason", "").startswith(
                "No picture: the installed VLC could not be loaded (Windows error "):
            failures.append("damaged: reason: " + found.get("reason", ""))
    finally:
        reg_clear(wine, work)
        reg_clear(window_wine, work)
        shutil.rmtree(program_files_videolan, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAIL:", failure)
    print(f"vlc_runtime_wine: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
