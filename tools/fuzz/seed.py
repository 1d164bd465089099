#!/usr/bin/env python3
"""Seed corpora for the fuzz targets, from the test fixtures and the examples.

usage: seed.py TOP OUTDIR   (OUTDIR/pedigree, coef, passdat, kesta)
"""
import glob
import hashlib
import os
import struct
import sys

top, out = sys.argv[1], sys.argv[2]
fixtures = os.path.join(top, "tests", "fixtures")


def files(name):
    found = glob.glob(os.path.join(fixtures, "**", name), recursive=True)
    found += glob.glob(os.path.join(top, "examples", "**", name), recursive=True)
    return sorted(found)


def save(target, data):
    d = os.path.join(out, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, hashlib.sha1(data).hexdigest()), "wb") as f:
        f.write(data)


def lines(data, n):
    """The first n lines of a text."""
    return b"".join(data.splitlines(keepends=True)[:n])


# Free-format pedigree records: the fixtures' files (the long ones cut), and
# the forms the reader knows (separators, nulls, repeats, quotes, slashes).
for p in files("pedigree.dat"):
    save("pedigree", lines(open(p, "rb").read(), 60))
    save("zelk", lines(open(p, "rb").read(), 60))
for s in [b"101 0 0 0 A 1990\n205,101,0,0,A,1995\n310 205 101 0 'A' 2000\n",
          b"101 0 0\n0 A 1990\n205,101,,0,A,1995\n205 101 /\n",
          b"2*0 101 0 \"B\" 1990 extra\r\n3*7 'it''s' 1e3\n",
          b"12.7 -5.9 1e3 0 A 2000\n101 0 0 0 'A\ncontinued' 1990\n"]:
    save("pedigree", s)

# Coefficient records "(2I5,F10.6)": the fixtures' zelk.coef, cut, and the
# field forms.
for p in files("zelk.coef"):
    data = open(p, "rb").read()
    if data:
        save("coef", lines(data, 200))
save("coef", b"    1    2  1.500000\n    3    4   1000000\n  1 2    3\n\n    1    2 1.5E1\r\n"
             b"    1    1-1.5e-3\n    2    2  1.5d+2\n   -1   +1   -  .5\n")

# Binary records: plan bytes, then the fixtures' pass.dat (cut to 64 KB).
for p in files("pass.dat"):
    data = open(p, "rb").read()[: 1 << 16]
    for plan in (b"\x00\x15\x2a\x3f", b"\xe4\x00\x07\x1b"):
        save("passdat", plan + data)


# Whole kesta runs: pairs of pass.dat and zelk.coef, the coefficient file
# without the lines that add nothing (zero coefficients, equations above q).
def nsire(passdat):
    """NSIRE, the data of record 2."""
    (n,) = struct.unpack_from("<I", passdat, 0)
    return struct.unpack_from("<i", passdat, 8 + n + 4)[0]


for p in files("pass.dat"):
    d = os.path.dirname(p)
    passdat = open(p, "rb").read()
    if len(passdat) > 8190:
        continue
    coef = os.path.join(d, "zelk.coef")
    q = nsire(passdat)
    kept = b""
    if os.path.exists(coef):
        for ln in open(coef, "rb").read().splitlines(keepends=True):
            try:
                i, j, a = int(ln[0:5]), int(ln[5:10]), float(ln[10:20])
            except ValueError:
                kept += ln
                continue
            if a != 0.0 and i <= q and j <= q:
                kept += ln
    data = struct.pack("<H", len(passdat)) + passdat + kept
    if len(data) <= 8192:
        save("kesta", data)
# Simulated analyses, when the default build has made simulate and zelk:
# small pedigrees for the free-format reader and small pass.dat and
# zelk.coef pairs for whole runs.
bindir = os.path.abspath(os.environ.get("FUZZ_SEED_BIN", os.path.join(top, "build")))
simulate, zelk = os.path.join(bindir, "tools", "simulate"), os.path.join(bindir, "zelk")
if os.access(simulate, os.X_OK) and os.access(zelk, os.X_OK):
    import subprocess
    import tempfile
    for opts in (["--bulls", "6", "--traits", "1", "--groups", "0"],
                 ["--bulls", "10", "--traits", "2", "--groups", "1", "--daughters", "8"],
                 ["--bulls", "12", "--traits", "3", "--groups", "2", "--daughters", "5", "--seed", "7"]):
        with tempfile.TemporaryDirectory() as d:
            subprocess.run([simulate, "--out", d] + opts, check=True, stdout=subprocess.DEVNULL)
            subprocess.run([zelk], cwd=d, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            ped = open(os.path.join(d, "pedigree.dat"), "rb").read()
            save("pedigree", ped)
            save("zelk", ped)
            passdat = open(os.path.join(d, "pass.dat"), "rb").read()
            q = nsire(passdat)
            kept = b""
            for ln in open(os.path.join(d, "zelk.coef"), "rb").read().splitlines(keepends=True):
                i, j, a = int(ln[0:5]), int(ln[5:10]), float(ln[10:20])
                if a != 0.0 and i <= q and j <= q:
                    kept += ln
            data = struct.pack("<H", len(passdat)) + passdat + kept
            if len(data) <= 8192:
                save("kesta", data)
            save("passdat", b"\xe4\x00\x07\x1b" + passdat[: 1 << 16])
print("seeded:", ", ".join(f"{t} {len(os.listdir(os.path.join(out, t)))}"
                            for t in ("pedigree", "coef", "passdat", "kesta", "zelk")))
