#!/usr/bin/env python3
"""Checks the packages that `make dist` wrote into BUILD/dist.

The zip holds the four files; both programs are 32-bit GUI programs that
import only DLLs that Windows ships. The tarball holds quorbel-peer (x86-64,
of this version) with its manual page. The manual opens, has the pages its
chapters need, and explains every message-box text, caption and socket error
text that `quorbel-texts` prints. Usage: check_dist.py BUILD_DIR
"""
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import unicodedata
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
PAGES = range(40, 81)  # the thirteen chapters with their screenshots and tables
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "shell32.dll",
               "advapi32.dll", "crypt32.dll", "ws2_32.dll", "iphlpapi.dll", "msvcrt.dll", "ole32.dll"}
FORMAT = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|I64|L)?[diouxXcsSp]|\\r\\n|\\r|\\n")
failures = []
checks = 0


def expect(ok, failure):
    global checks
    checks += 1
    if not ok:
        failures.append(failure)


def run(*cmd, check=True):
    return subprocess.run(cmd, capture_output=True, check=check, timeout=120).stdout


def squeeze(text):
    # pdftotext breaks lines anywhere, and a font that draws two code points
    # with one glyph (the radical forms of some socket error texts) gives
    # either back: compare NFKC forms without any white space. NFKC folds
    # the Kangxi radicals but not U+2ED1, the one supplement radical used.
    text = unicodedata.normalize("NFKC", text).replace("\u2ed1", "\u9577")
    return re.sub(r"\s+", "", text)


version = re.search(r'QUORBEL_VERSION_TEXT "(.*)"', open(os.path.join(ROOT, "src/core/base/version.h")).read())[1]
texts_program = os.path.join(BUILD, "native", "quorbel-texts")
if not os.access(texts_program, os.X_OK):
    sys.exit(f"check_dist: {texts_program} is missing; the message texts to look for come from it")

with tempfile.TemporaryDirectory() as tmp:
    with zipfile.ZipFile(os.path.join(BUILD, "dist", f"Quorbel-{version}-win32.zip")) as z:
        names = sorted(z.namelist())
        expect(names == ["Quorbel.exe", "Quorbel_manual.pdf", "README.txt", "zelvane.exe"], f"zip holds {names}")
        z.extractall(tmp)
    readme = open(os.path.join(tmp, "README.txt"), encoding="utf-8-sig").read()
    for needed in (f"Quorbel {version}", "MIT License", "Build date:", "Source revision:", "libgcrypt", "Lesser General Public License"):
        expect(needed in readme, f"README.txt lacks {needed!r}")
    for exe in ("Quorbel.exe", "zelvane.exe"):
        dump = run("i686-w64-mingw32-objdump", "-p", os.path.join(tmp, exe), check=False).decode()
        expect("file format pei-i386" in dump and re.search(r"Subsystem\s+00000002", dump),
               f"{exe} is not a 32-bit (i386) GUI program")
        foreign = [d for d in re.findall(r"DLL Name: (\S+)", dump) if d.lower() not in SYSTEM_DLLS]
        expect("DLL Name:" in dump and not foreign, f"{exe}: no import table, or DLLs that Windows lacks: {foreign}")
        # The box log and answers of the test build are not in what ships.
        binary = open(os.path.join(tmp, exe), "rb").read()
        hooks = [h for h in ("QUORBEL_BOX_LOG", "QUORBEL_BOX_ANSWERS") if h.encode("utf-16-le") in binary]
        expect(not hooks, f"{exe} carries the test build's {hooks}")

    with tarfile.open(os.path.join(BUILD, "dist", f"quorbel-peer-{version}-linux-x86_64.tar.gz")) as t:
        members = {os.path.basename(m.name): m for m in t.getmembers() if m.isfile()}
        complete = sorted(members) == ["README.txt", "quorbel-peer", "quorbel-peer.1"]
        expect(complete, f"tarball holds {sorted(members)}")
        if complete:
            t.extractall(tmp)
            peer = os.path.join(tmp, [m.name for m in members.values() if m.name.endswith("/quorbel-peer")][0])
            head = open(peer, "rb").read(20)
            expect(head[:4] == b"\x7fELF" and head[18:20] == b"\x3e\x00", "quorbel-peer is not an x86-64 ELF program")
            expect(run(peer, "--version").decode().strip() == f"quorbel-peer {version}",
                   f"quorbel-peer --version does not say {version}")
            page = t.extractfile(members["quorbel-peer.1"]).read().decode()
            expect(re.search(r'^\.TH "?QUORBEL-PEER"? "?1', page, re.M), "quorbel-peer.1 is no manual page of it")

    pdf = os.path.join(tmp, "Quorbel_manual.pdf")
    pages = int(re.search(rb"Pages:\s+(\d+)", run("pdfinfo", pdf))[1])
    expect(pages in PAGES, f"the manual has {pages} pages, not {PAGES.start} to {PAGES.stop - 1}")
    manual = squeeze(run("pdftotext", "-raw", "-enc", "UTF-8", pdf, "-").decode())

headings = []
for chapter in sorted(f for f in os.listdir(os.path.join(ROOT, "docs/manual")) if f.endswith(".md")):
    for line in open(os.path.join(ROOT, "docs/manual", chapter), encoding="utf-8"):
        if line.startswith("# "):
            headings.append(re.sub(r"\s*\{[^}]*\}\s*$", "", line[2:]))
for heading in headings:
    expect(squeeze(heading) in manual, f"chapter heading missing: {heading.strip()}")

texts = run(texts_program).decode().splitlines()
expect(len(texts) >= 100, f"quorbel-texts printed only {len(texts)} texts")
for text in texts:
    missing = [f for f in map(squeeze, FORMAT.split(text)) if len(f) >= 2 and f not in manual]
    expect(not missing, f"not explained in the manual: {text!r} (missing {missing})")
expect(version in manual, f"the manual does not name version {version}")

for failure in failures:
    print("FAIL:", failure)
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
