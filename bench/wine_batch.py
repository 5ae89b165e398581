#!/usr/bin/env python3
"""Batches of Quorbel.exe (under Wine, as Client, the fast mode) against
quorbel-peer serve: 1,000 files of 10 KB in a tree of 20 folders copied to
the peer and back through the transfer dialog (batch_round.exe, one round
each), beside quorbel-peer's own `put -r` and `get -r` of the same tree to
the same peer, the yardstick, round by round; files per second, the ratio
of each round and their median.

Usage: wine_batch.py BUILD_DIR [rounds=3]
"""
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.environ.get("QUORBEL_PEER", os.path.join(BUILD, "native", "quorbel-peer"))
ROUND = os.path.join(BUILD, "win64", "batch_round.exe")
FILES, FOLDERS, BYTES = 1000, 20, 10 * 1024
TARGET_SECONDS = 30


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def make_tree(top):
    # 4 folders of 4 folders each: 20 folders, 50 files in each.
    folders = [os.path.join(top, f"d{a}", f"e{b}") if b >= 0 else os.path.join(top, f"d{a}")
               for a in range(4) for b in range(-1, 4)]
    for n in range(FILES):
        folder = folders[n % FOLDERS]
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"f{n:04}.bin"), "wb") as f:
            f.write(os.urandom(BYTES))


def main():
    work = tempfile.mkdtemp(prefix="qb-batch-bench-")
    root, local = os.path.join(work, "root"), os.path.join(work, "local")
    os.makedirs(root)
    make_tree(os.path.join(local, "tree"))
    serve = subprocess.Popen([PEER, "serve", "--root", root, "--port", "0", "--id", "試験", "--pw", "合言葉", "--quiet"],
                             stderr=subprocess.PIPE, text=True)
    pair = ["--id", "試験", "--pw", "合言葉", "--quiet"]
    try:
        if not select.select([serve.stderr], [], [], 30)[0]:
            sys.exit("wine_batch: quorbel-peer serve did not start")
        port = re.search(r"port (\d+)", serve.stderr.readline()).group(1)
        client = [PEER, "--port", port] + pair
        ratios, worst = [], 0.0
        for round_ in range(1, ROUNDS + 1):
            for gone in (os.path.join(root, "tree"), os.path.join(local, "back"), os.path.join(work, "yard")):
                shutil.rmtree(gone, ignore_errors=True)
            done = subprocess.run([os.path.join(HERE, "..", "scripts", "wine-run.sh"), ROUND, port, windows_path(local),
                                   str(FILES)], capture_output=True, text=True, timeout=900)
            found = re.search(r"put ([\d.]+) get ([\d.]+)", done.stdout)
            if done.returncode != 0 or not found:
                sys.exit(f"wine_batch: round {round_} failed: {done.stderr.strip()}")
            put, get = float(found.group(1)), float(found.group(2))
            os.makedirs(os.path.join(work, "yard"))
            os.makedirs(os.path.join(root, "yard"))
            start = time.monotonic()
            subprocess.run(client + ["put", "-r", os.path.join(local, "tree"), "C:\\yard"], check=True)
            peer_put = time.monotonic() - start
            start = time.monotonic()
            subprocess.run(client + ["get", "-r", "C:\\yard\\tree", os.path.join(work, "yard")], check=True)
            peer_get = time.monotonic() - start
            shutil.rmtree(os.path.join(root, "yard"), ignore_errors=True)
            ratios.append((peer_put + peer_get) / (put + get))
            worst = max(worst, put, get)
            print(f"round {round_}: Quorbel.exe {FILES / put:.0f} files/s to the peer ({put:.2f} s), "
                  f"{FILES / get:.0f} files/s from it ({get:.2f} s); quorbel-peer {FILES / peer_put:.0f} and "
                  f"{FILES / peer_get:.0f} files/s ({peer_put:.2f} s, {peer_get:.2f} s); "
                  f"Quorbel.exe at {ratios[-1]:.2f} of its speed", flush=True)
        ratios.sort()
        print(f"median: Quorbel.exe's batches at {ratios[len(ratios) // 2]:.2f} of quorbel-peer's tree copies; "
              f"slowest way {worst:.1f} s (target: at most {TARGET_SECONDS} s each way)")
        if worst > TARGET_SECONDS:
            sys.exit(1)
    finally:
        serve.terminate()
        serve.wait(10)
        shutil.rmtree(work, ignore_errors=True)


main()
