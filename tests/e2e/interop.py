#!/usr/bin/env python3
"""Quorbel.exe against the Linux peer quorbel-peer in both roles, judged by the files each side ends up with.
Usage: interop.py BUILD_DIR (the x64 build, in its Wine session); the peer: ../native or $QUORBEL_PEER; 77: none."""
import datetime, os, re, select, shutil, signal, socket, subprocess, sys, tempfile, threading, time
from pathlib import Path

BUILD = Path(sys.argv[1]).resolve()
RUN = Path(__file__).resolve().parents[2] / "scripts" / "wine-run.sh"
PEER = os.environ.get("QUORBEL_PEER", str(BUILD.parent / "native" / "quorbel-peer"))
WORK = Path(tempfile.mkdtemp(prefix="qb_interop_"))
WINE = dict(os.environ, QUORBEL_WINE_BUILD=str(BUILD))  # the x64 build's prefix, whichever program runs
OWN = dict(os.environ, XDG_STATE_HOME=str(WORK))  # the Servers quorbel-peer had secure sessions with: this run's

def win(path):  # Wine's Z: is the Linux root
    return "Z:" + str(path).replace("/", "\\")

def wait(check, seconds, what):
    end = time.monotonic() + seconds
    while not check():
        assert time.monotonic() < end, f"no {what} within {seconds} s"
        time.sleep(0.01)

def sockets(port):  # the states of the sockets on this local port: 0A listening, 06 time-wait
    with open("/proc/net/tcp") as table:
        return [f[3] for f in (line.split() for line in table.readlines()[1:]) if f[1].endswith(":%04X" % port)]

def write(path, data, mtime=1700000000):
    path.write_bytes(data); os.utime(path, (mtime, mtime))

def same(a, b):  # bytes and last-write time
    assert a.read_bytes() == b.read_bytes(), f"{b} differs from {a}"
    assert a.stat().st_mtime_ns == b.stat().st_mtime_ns, f"{b} has another time than {a}"

class Relay:
    """Between a Client and the Server on `port`: forwards every connection, keeping its bytes, both ways."""
    def __init__(self, port):
        self.target, self.listener, self.streams = port, socket.create_server(("127.0.0.1", 0)), []
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try: a, b = self.listener.accept()[0], socket.create_connection(("127.0.0.1", self.target))
            except OSError: return
            self.streams.append((bytearray(), bytearray()))  # what the Client sent, what the Server sent
            for src, dst, kept in ((a, b, self.streams[-1][0]), (b, a, self.streams[-1][1])):
                threading.Thread(target=self.pump, args=(src, dst, kept), daemon=True).start()

    @staticmethod
    def pump(src, dst, kept):
        try:
            while data := src.recv(65536): kept += data; dst.sendall(data)
        except OSError: pass
        for s in (src, dst):
            try: s.shutdown(socket.SHUT_RDWR)
            except OSError: pass

def unseen(relay, secrets):  # none of these bytes on a connection of the secure session, and there was one
    relay.listener.close()
    secure = [c + s for c, s in relay.streams if c.startswith(b"PW\0QBX")]
    assert secure, "no secure session on the connection"
    for stream, secret in ((stream, secret) for stream in secure for secret in secrets):
        assert secret not in stream, f"{secret[:20]!r} crossed a secure connection readable"

def against_server(exe, name):
    app, srv, mine, back = (WORK / name / part for part in ("app", "srv", "mine", "back"))
    for path in (app, srv, mine, back): path.mkdir(parents=True)
    with socket.create_server(("", 0)) as probe:
        port = probe.getsockname()[1]
    (app / "Quorbel.ini").write_text(f"[Quorbel_setting]\ndoui_mode=1\nip_mode=1\nport_no={port}\n"
                                     f"currentdirectory_r={win(srv)}\n")
    shutil.copy(exe, app)
    log = app / "boxes.log"  # only the test build keeps it
    server = subprocess.Popen([RUN, app / "Quorbel.exe", "/CMD"], cwd=app, start_new_session=True,
                              env=dict(WINE, QUORBEL_BOX_LOG=win(log)))

    def peer(*args, copying=False, code=0, via=None):
        # Slot 0 of the Server must be free again, or the peer lands in a slot that is never answered.
        wait(lambda: set(sockets(port)) <= {"0A", "06"}, 30, "free slot on the Server")
        command = [PEER, "--port", str(via.port if via else port), *map(str, args)]
        if copying: return subprocess.Popen(command, stderr=subprocess.DEVNULL, env=OWN)
        done = subprocess.run(command, capture_output=True, text=True, timeout=600, env=OWN)
        assert done.returncode == code, f"{args}: exit {done.returncode}: {done.stderr}"
        return done

    try:
        wait(lambda: "0A" in sockets(port), 60, f"{name} Quorbel.exe listening")
        S, today = win(srv), datetime.date.today()  # an empty dipa / wppa gives the pair of the Server's date
        login = ["--id", f"QB{today.year}", "--pw", f"PW{today.month}{today.day}"]
        pair = "".join(login[1::2]).encode()
        for tag, mode in (("平文", [*login, "--plain"]), ("高速", login)):  # the Server serves only a login
            report, data, made = f"{tag}の報告.txt", f"{tag}の受信資料.bin", f"{tag}の新しいフォルダ"
            write(mine / report, os.urandom(5000)); write(srv / data, os.urandom(7000))
            # The bytes on the connection: the pair and the files in the clear only in the plain protocol.
            relay = Relay(port)
            assert ("secure session" in peer(*mode, "put", mine / report, S, via=relay).stderr) == (mode == login)
            peer(*mode, "get", f"{S}\\{data}", back, via=relay)
            secrets = (pair, (mine / report).read_bytes()[:64], (srv / data).read_bytes()[:64])
            if mode == login: unseen(relay, secrets)
            else: relay.listener.close(); assert all(any(x in c + s for c, s in relay.streams) for x in secrets)
            peer(*mode, "mkdir", f"{S}\\{made}")
            same(mine / report, srv / report); same(srv / data, back / data)
            rows = {row.split("\t")[0] for row in peer(*mode, "--tsv", "ls", S).stdout.splitlines()}
            assert {report, data, made} <= rows and (srv / made).is_dir(), rows
            assert "no such folder" in peer(*mode, "ls", f"{S}\\{tag}のないフォルダ", code=5).stderr
        sizes = {f"高速{size}.bin": size for size in (0, 1, 2**20 - 1, 2**20, 2**20 + 1, 20_000_000)}
        for n, size in sizes.items(): write(mine / n, os.urandom(size))
        peer(*login, "put", *(mine / n for n in sizes), S)
        peer(*login, "get", *(f"{S}\\{n}" for n in sizes), back)
        for n in sizes: same(mine / n, srv / n); same(mine / n, back / n)
        # A stop and a cut mid-copy leave the older file as it was and no temporary file.
        write(srv / "older.dat", b"the older file"); write(mine / "older.dat", os.urandom(20_000_000))
        for sig, code in ((signal.SIGINT, 130), (signal.SIGKILL, -signal.SIGKILL)):
            copy = peer(*login, "--plain", "put", mine / "older.dat", S, copying=True)
            wait((srv / "older.$TEMP").exists, 60, "copy under way")
            copy.send_signal(sig)
            assert copy.wait(60) == code, f"{sig}: exit {copy.returncode}"
            wait(lambda: not (srv / "older.$TEMP").exists(), 30, "temporary file removed")
            assert (srv / "older.dat").read_bytes() == b"the older file"
        assert not log.exists(), log.read_text(encoding="utf-8")
    finally:
        os.killpg(server.pid, signal.SIGKILL); server.wait()

def against_peer_server():
    (WORK / "peer").mkdir()
    write(WORK / "peer" / "受領.bin", os.urandom(2_500_000))  # more than a block: it resumes
    serve = subprocess.Popen([PEER, "serve", "--root", WORK / "peer", "--port", "0", "--id", "試験", "--pw", "合言葉",
                              "--quiet"], stderr=subprocess.PIPE, text=True)
    relay = None
    try:
        assert select.select([serve.stderr], [], [], 30)[0], "quorbel-peer serve did not start"
        relay = Relay(int(re.search(r"port (\d+)", serve.stderr.readline()).group(1)))
        env = dict(WINE, QUORBEL_PEER_PORT=str(relay.port), QUORBEL_PEER_ROOT=win(WORK / "peer"))
        tests = subprocess.run([RUN, BUILD / "win_tests.exe", "--gtest_filter=AgainstPeer.*"], env=env, timeout=300)
        assert tests.returncode == 0, "AgainstPeer failed"
        # Quorbel.exe's secure sessions: neither the pair nor the file it got crossed readable.
        unseen(relay, ("試験合言葉".encode("cp932"), (WORK / "peer" / "受領.bin").read_bytes()[:64]))
    finally:
        if relay: relay.listener.close()
        serve.terminate(); serve.wait(10)

if not os.access(PEER, os.X_OK):
    sys.exit(print(f"interop: skipped: no quorbel-peer at {PEER}") or 77)
against_server(BUILD / "Quorbel.exe", "x64")
against_peer_server()
runs32 = subprocess.run("/usr/lib/wine/wine --version", shell=True, capture_output=True).returncode == 0  # i386
release = BUILD.parent / "win32" / "Quorbel.exe"
if runs32 and release.exists():
    against_server(release, "win32")
    print("interop: the shipped 32-bit Quorbel.exe passed as well")
else:
    print("interop: 32-bit part SKIPPED: " + (f"no {release}" if runs32 else "no 32-bit code runs here (is wine32:i386 "
                                               "installed? does the kernel refuse i386 programs?)"))
shutil.rmtree(WORK)
