#!/usr/bin/env python3
"""Runs one command on a private X display with a real window manager.

Starts Xvfb on a display number the server picks itself (-displayfd), then openbox on it, waits
until openbox manages the screen, runs the command with DISPLAY set and QT_QPA_PLATFORM=xcb, and
stops both again. Every wait is bounded. A missing Xvfb, openbox or xdotool is an error, not a
skip: scripts/deps installs them.

    under_window_manager.py COMMAND [ARG...]
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SERVER_START_SECONDS = 15
WM_START_SECONDS = 15
COMMAND_SECONDS = 200


def fail(message):
    print(f"under_window_manager: {message}", file=sys.stderr)
    sys.exit(2)


def stop(process):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=5)


def start_server():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
         "-noreset"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    # Xvfb writes the display number, followed by a newline, once it accepts clients.
    number = b""
    deadline = time.monotonic() + SERVER_START_SECONDS
    os.set_blocking(read_end, False)
    while not number.endswith(b"\n"):
        if server.poll() is not None:
            os.close(read_end)
            fail(f"Xvfb ended with code {server.returncode} before it took a display")
        if time.monotonic() > deadline:
            os.close(read_end)
            stop(server)
            fail("Xvfb did not take a display in time")
        try:
            chunk = os.read(read_end, 16)
            if chunk:
                number += chunk
                continue
        except BlockingIOError:
            pass
        time.sleep(0.05)
    os.close(read_end)
    return server, ":" + number.decode().strip()


def wait_for_window_manager(env, wm):
    # openbox sets the EWMH root properties once it manages the screen; xdotool fails until then.
    deadline = time.monotonic() + WM_START_SECONDS
    while time.monotonic() < deadline:
        if wm.poll() is not None:
            fail(f"openbox ended with code {wm.returncode}")
        probe = subprocess.run(["xdotool", "get_num_desktops"], env=env, capture_output=True,
                               timeout=5)
        if probe.returncode == 0 and probe.stdout.strip() not in (b"", b"0"):
            return
        time.sleep(0.1)
    fail("openbox did not take over the screen in time")


def main():
    if len(sys.argv) < 2:
        fail("no command given")
    for tool in ("Xvfb", "openbox", "xdotool"):
        if shutil.which(tool) is None:
            fail(f"{tool} is missing; run scripts/deps")

    server = wm = None
    with tempfile.TemporaryDirectory(prefix="velmo-wm-") as home:
        try:
            server, display = start_server()
            env = dict(os.environ)
            env.update({
                "DISPLAY": display,
                "QT_QPA_PLATFORM": "xcb",
                # No user's openbox configuration or autostart may change what the test sees.
                "XDG_CONFIG_HOME": home,
                "XDG_RUNTIME_DIR": home,
            })
            env.pop("WAYLAND_DISPLAY", None)
            if "ASAN_OPTIONS" in env:
                # libxkbcommon-x11 hands strndup() a counted buffer without a terminator, which is
                # allowed; AddressSanitizer's strict string checks read on to a terminator anyway.
                env["ASAN_OPTIONS"] += ":strict_string_checks=0"
            wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
            wait_for_window_manager(env, wm)
            try:
                result = subprocess.run(sys.argv[1:], env=env, timeout=COMMAND_SECONDS)
            except subprocess.TimeoutExpired:
                fail(f"{sys.argv[1]} did not end within {COMMAND_SECONDS} s")
            return result.returncode
        finally:
            stop(wm)
            stop(server)


if __name__ == "__main__":
    sys.exit(main())
