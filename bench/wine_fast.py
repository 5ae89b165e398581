#!/usr/bin/env python3
"""Fast mode against the plain protocol between Quorbel.exe (under Wine, as
Server) and quorbel-peer (native, as Client): the same file copied from it
and back to it in each mode, round by round; the ratio of each round, their
median, and the peak memory of both sides.

Usage: wine_fast.py BUILD_DIR [megabytes=50] [rounds=5]
"""
import datetime
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
MEGABYTES = int(sys.argv[2]) if len(sys.argv) > 2 else 50
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 5
HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.environ.get("QUORBEL_PEER", os.path.join(BUILD, "native", "quorbel-peer"))
EXE = os.path.join(BUILD, "win64", "Quorbel.exe")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def memory_kib(field):
    # The Wine process that runs Quorbel.exe.
    pids = subprocess.run(["pgrep", "-f", "Quorbel.exe /CMD"], capture_output=True, text=True).stdout.split()
    values = [0]
    for pid in pids:
        for line in open(f"/proc/{pid}/status"):
            if line.startswith(field + ":"):
                values.append(int(line.split()[1]))
    return max(values)


def peak_kib_of(command):
    # Runs quorbel-peer and follows its own high-water mark: a child's
    # rusage would also count this script's memory, which the child shares
    # until it starts the program.
    process = subprocess.Popen(command)
    peak = 0
    while process.poll() is None:
        try:
            with open(f"/proc/{process.pid}/status") as status:
                for line in status:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.005)
    if process.returncode != 0:
        raise subprocess.CalledProcessError(process.returncode, command)
    return peak


def main():
    work = tempfile.mkdtemp(prefix="qb-bench-")
    server, local = os.path.join(work, "server"), os.path.join(work, "local")
    os.makedirs(server)
    os.makedirs(local)
    source = os.path.join(local, "data.bin")
    with open(source, "wb") as f:
        f.write(os.urandom(MEGABYTES << 20))
    port = free_port()
    with open(os.path.join(server, "Quorbel.ini"), "w", newline="\r\n") as f:
        f.write(f"[Quorbel_setting]\ndoui_mode=1\nip_mode=1\nport_no={port}\n")
    env = dict(os.environ, QUORBEL_BOX_LOG=windows_path(os.path.join(work, "boxes.log")))
    wine = subprocess.Popen([os.path.join(HERE, "..", "scripts", "wine-run.sh"), EXE, "/CMD"], cwd=server, env=env,
                            start_new_session=True)
    today = datetime.date.today()
    pair = ["--id", f"QB{today.year}", "--pw", f"PW{today.month}{today.day}"]  # the Server serves only a login
    login = {"plain": pair + ["--plain"], "fast": pair}
    try:
        for _ in range(300):  # the Server listens once Wine has started it
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        idle = memory_kib("VmRSS")
        ratios = []
        peer = 0
        for round_ in range(1, ROUNDS + 1):
            seconds = {}
            for mode in ("plain", "fast"):
                start = time.monotonic()
                base = [PEER, "--port", str(port), "--quiet"] + login[mode]
                peer = max(peer, peak_kib_of(base + ["put", source, windows_path(server)]))
                os.remove(source)
                peer = max(peer, peak_kib_of(base + ["get", windows_path(os.path.join(server, "data.bin")), local]))
                seconds[mode] = time.monotonic() - start
            ratios.append(seconds["plain"] / seconds["fast"])
            print(f"round {round_}: {2 * MEGABYTES} MB moved, plain {seconds['plain']:.2f} s, "
                  f"fast {seconds['fast']:.2f} s, fast is {ratios[-1]:.1f} times the plain mode", flush=True)
        ratios.sort()
        print(f"median: the fast mode is {ratios[len(ratios) // 2]:.1f} times the plain mode (target: 10)")
        peak = memory_kib("VmHWM")
        print(f"peak resident memory: Quorbel.exe under Wine {peak / 1024:.1f} MiB, of which Wine and the idle "
              f"program take {idle / 1024:.1f} MiB and the copies {(peak - idle) / 1024:.1f} MiB; "
              f"quorbel-peer {peer / 1024:.1f} MiB (target: under 16 MiB each)")
    finally:
        # Quorbel.exe runs until it is ended; its prefix's wineserver stays for the next run.
        os.killpg(wine.pid, signal.SIGKILL)
        wine.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


main()
