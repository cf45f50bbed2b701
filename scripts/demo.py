#!/usr/bin/python3
"""The demo: the real search tool on a private virtual LAN of simulated
cameras, one RTSP test stream served at every camera's address.

Runs inside the tool's namespace of scripts/vlan.sh (scripts/demo.sh sets it
up). With --display it opens the tool on the caller's display and waits for
the window to be closed; otherwise it runs the tool under Xvfb, searches,
previews the first camera and saves screenshots of the main window and of a
settings window. The tool runs with --no-firewall (see camlab.Lab.start_app):
the host's firewall is never touched.
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
import camlab  # noqa: E402
from camlab import Failure, Lab, MainWindow, log  # noqa: E402

CAMERAS = 6
LIFETIME_S = 900  # the simulated cameras and the stream end by themselves after this


def run_on_display(lab):
    lab.start_display()
    lab.start_camsim(cameras=CAMERAS, seconds=LIFETIME_S)
    lab.start_rtsp(lab.camera_ip(0), seconds=LIFETIME_S)
    app = lab.start_app()
    print(f"""
The tool is open on {os.environ.get('DISPLAY') or os.environ.get('WAYLAND_DISPLAY')}, on a private LAN
of {CAMERAS} simulated cameras ({lab.camera_ip(0)} to {lab.camera_ip(CAMERAS - 1)}):
  - press Search: every camera is listed by the first search;
  - click a row and press Preview to watch its stream;
  - double-click a row to change its settings, then Search again.
Close the window to end the demo (it ends by itself after {LIFETIME_S // 60} minutes).
""", flush=True)
    try:
        app.popen.wait(LIFETIME_S)
    except Exception:  # the time is up: the lab stops the tool
        pass


def run_headless(lab, out):
    lab.start_display()
    lab.start_camsim(cameras=CAMERAS, seconds=LIFETIME_S)
    lab.start_rtsp(lab.camera_ip(0), seconds=LIFETIME_S)
    app = lab.start_app()
    window = MainWindow(lab)
    rows = window.search(CAMERAS)
    for row in rows:
        log("  " + " | ".join(row))
    listed = os.path.join(out, "search-tool-cameras.png")
    lab.screen.screenshot(listed, window.window)

    row = next(i for i, r in enumerate(rows) if r[3] == lab.camera_ip(0))
    window.click_row(row)
    window.press("Preview")
    window.wait_for_video()
    time.sleep(1)
    playing = os.path.join(out, "search-tool-preview.png")
    lab.screen.screenshot(playing, window.window)

    # The settings window of the same camera, opened as a person does.
    window.click_row(row, repeat=2)
    settings_window = lab.screen.find_window("Set：" + lab.camera_ip(0))
    time.sleep(0.5)
    settings = os.path.join(out, "search-tool-settings.png")
    lab.screen.screenshot(settings, settings_window)
    lab.screen.close_window(settings_window)

    lab.screen.close_window(window.window)
    app.popen.wait(10)
    print(f"""
The tool listed {len(rows)} simulated cameras and played the stream of {lab.camera_ip(0)}.
Screenshots:
  {listed}
  {playing}
  {settings}
""", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--camsim", required=True)
    parser.add_argument("--rtsp", required=True)
    parser.add_argument("--out", required=True, help="folder for the screenshots")
    parser.add_argument("--display", action="store_true", help="use the caller's display")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    try:
        with Lab(args.app, args.camsim, args.rtsp, headless=not args.display) as lab:
            if args.display:
                run_on_display(lab)
            else:
                run_headless(lab, os.path.abspath(args.out))
    except camlab.Skip as skip:
        print(f"demo: {skip}", file=sys.stderr)
        return camlab.SKIP
    except Failure as failure:
        print(f"demo: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
