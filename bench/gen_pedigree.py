#!/usr/bin/env python3
"""Writes a sorted pedigree.dat of N bulls to standard output.

usage: gen_pedigree.py N [SEED]

IDs ascend with gaps; birth years run from 1950 to 2020 with the IDs; each
bull's sire, MGS and MGGS are older bulls of the file, unknown (0), or an ID
that is no bull of the file, in about the shares a real pedigree shows.
"""
import random
import sys


def main():
    n = int(sys.argv[1])
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 1)
    ids = []
    out = []
    ident = 100000
    for k in range(n):
        ident += rng.randint(1, 9) * 2  # even IDs: odd ones are never bulls
        year = 1950 + (70 * k) // max(n, 1)

        def ancestor(p_known, p_stranger):
            u = rng.random()
            if ids and u < p_known:
                return rng.choice(ids[-5000:])
            if u < p_known + p_stranger:
                return rng.randrange(1, 50000) * 2 + 1
            return 0

        sire = ancestor(0.70, 0.05)
        mgs = ancestor(0.50, 0.05)
        mggs = ancestor(0.30, 0.05)
        out.append("%9d %9d %9d %9d %s %4d\n" % (ident, sire, mgs, mggs, rng.choice("HBJ"), year))
        ids.append(ident)
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
