"""Independent reference calculation of a kesta run, written from the system's
description of each step, that derives the expected output of the tests:

    tests/fixtures/kesta-final/kesta_ref.py   whole analyses (kesta())
    tests/fixtures/kesta-reml/derive.py       the middle phases' listing block
                                              and the correlation files
    tests/kesta_final_unit_test.cpp           sirsol() and relapx() by hand

Every operation is one IEEE double operation in the order the program has to
follow (Python floats are doubles and are never fused); single-precision
rounding points go through struct. Plain python3, no numpy.

A case is a dict with the contents of pass.dat: t, q, g, names, rhs (q x t),
wss and ymy (lower triangles by rows), nfixlv, nrec, ndfded, W (q x q), ids,
groups, N (q x g), H (g x g), grhs (g x t), baseen; matrices are flat lists by
columns, as pass.dat holds them. The zelk.coef lines are passed as text.
"""
import math
import struct

NaN = float('nan')


# ---------------------------------------------------------------- floats
def single(x):
    """x rounded to the nearest single-precision value, as a Python float."""
    try:
        return struct.unpack('<f', struct.pack('<f', x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def fdiv(a, b):
    """IEEE double division (Python raises on /0)."""
    try:
        return a / b
    except ZeroDivisionError:
        if a != a or a == 0:
            return NaN
        return math.copysign(math.inf, a) * math.copysign(1.0, b)


def fsqrt(x):
    if x != x or x < 0:
        return NaN
    return math.sqrt(x)


# ---------------------------------------------------------------- edited fields
def fmt_f(x, w, d):
    """Fw.d of the exact binary value of x."""
    if math.isnan(x):
        s = 'NaN'
    elif math.isinf(x):
        s = '-Infinity' if x < 0 else 'Infinity'
        if len(s) > w:
            s = '-Inf' if x < 0 else 'Inf'
    else:
        s = '%.*f' % (d, abs(x))
        if d == 0:
            s += '.'
        optional = d > 0 and s.startswith('0.')
        if x < 0:
            s = '-' + s
        if len(s) > w and optional:
            s = s.replace('0.', '.', 1)
    if len(s) > w:
        return '*' * w
    return s.rjust(w)


def fmt_i(v, w):
    s = str(v)
    return '*' * w if len(s) > w else s.rjust(w)


# ---------------------------------------------------------------- records
def parse_format(text):
    """Edit format -> list of elements (kind, ...)."""
    s = text.strip()
    assert s[0] == '(' and s[-1] == ')'
    s = s[1:-1]
    pos = 0

    def parse_list(end):
        nonlocal pos
        out = []
        while pos < len(s) and s[pos] != end:
            c = s[pos]
            if c == ',':
                pos += 1
                continue
            if c == "'":
                pos += 1
                lit = ''
                while True:
                    if s[pos] == "'" and pos + 1 < len(s) and s[pos + 1] == "'":
                        lit += "'"
                        pos += 2
                    elif s[pos] == "'":
                        pos += 1
                        break
                    else:
                        lit += s[pos]
                        pos += 1
                out.append(('LIT', lit))
                continue
            if c == '/':
                out.append(('SLASH',))
                pos += 1
                continue
            num = ''
            while pos < len(s) and s[pos].isdigit():
                num += s[pos]
                pos += 1
            c = s[pos]
            if c == 'X':
                out.append(('X', int(num)))
                pos += 1
            elif c == '(':
                pos += 1
                body = parse_list(')')
                pos += 1
                out.append(('GROUP', int(num) if num else 1, body))
            elif c in 'IF':
                pos += 1
                w = ''
                while pos < len(s) and s[pos].isdigit():
                    w += s[pos]
                    pos += 1
                d = 0
                if pos < len(s) and s[pos] == '.':
                    pos += 1
                    dd = ''
                    while pos < len(s) and s[pos].isdigit():
                        dd += s[pos]
                        pos += 1
                    d = int(dd)
                for _ in range(int(num) if num else 1):
                    out.append((c, int(w), d))
            elif c == 'A':
                pos += 1
                for _ in range(int(num) if num else 1):
                    out.append(('A',))
            else:
                raise ValueError(text)
        return out

    return parse_list(None)


class _NoItem(Exception):
    pass


def fmtwrt(fmt, items):
    """items: list of ('I', v) | ('R', v) | ('T', s). Returns list of lines."""
    elems = parse_format(fmt)
    items = list(items)
    lines = []
    cur = ['', 0]  # text written, position

    def put(txt):
        cur[0] = cur[0].ljust(cur[1]) + txt
        cur[1] = len(cur[0])

    def newline():
        lines.append(cur[0])
        cur[0], cur[1] = '', 0

    def walk(lst):
        for e in lst:
            k = e[0]
            if k == 'LIT':
                put(e[1])
            elif k == 'X':
                cur[1] += e[1]
            elif k == 'SLASH':
                newline()
            elif k == 'GROUP':
                for _ in range(e[1]):
                    walk(e[2])
            else:
                if not items:
                    raise _NoItem
                it = items.pop(0)
                if k == 'I':
                    assert it[0] == 'I'
                    put(fmt_i(it[1], e[1]))
                elif k == 'F':
                    assert it[0] == 'R'
                    put(fmt_f(it[1], e[1], e[2]))
                else:
                    assert it[0] == 'T'
                    put(it[1])

    last_group = None
    for idx, e in enumerate(elems):
        if e[0] == 'GROUP':
            last_group = idx
    try:
        walk(elems)
        while items:
            newline()
            walk(elems[last_group:] if last_group is not None else elems)
    except _NoItem:
        pass
    lines.append(cur[0])
    return lines


def lstwrt(items):
    if not items:
        return ' '
    s = ''
    prev = None
    for it in items:
        if it[0] == 'I':
            s += str(it[1]).rjust(12)
        else:
            if prev is None or prev == 'I':
                s += ' '
            s += it[1]
        prev = it[0]
    return s


I = lambda v: ('I', v)  # noqa: E731
R = lambda v: ('R', v)  # noqa: E731
T = lambda v: ('T', v)  # noqa: E731


# ---------------------------------------------------------------- pass.dat
def pass_bytes(c):
    def rec(b):
        return struct.pack('<i', len(b)) + b + struct.pack('<i', len(b))

    def d(v):
        return struct.pack('<%dd' % len(v), *v)

    t, q, g = c['t'], c['q'], c['g']
    out = rec(struct.pack('<i', t)) + rec(struct.pack('<i', q)) + rec(struct.pack('<i', g))
    out += rec(''.join(n.ljust(8)[:8] for n in c['names']).encode())
    out += rec(d(c['rhs']))
    out += rec(d(c['wss']) + d(c['ymy']) + struct.pack('<3i', c['nfixlv'], c['nrec'], c['ndfded']))
    for m in range(q):
        out += rec(d(c['W'][m * q:(m + 1) * q]))
    out += rec(struct.pack('<%di' % (2 * q), *(list(c['ids']) + list(c['groups']))))
    out += rec(d(c['N']))
    out += rec(d(c['H']) + d(c['grhs']) + struct.pack('<f', c['baseen']))
    return out


# ---------------------------------------------------------------- dense kernels
class Stop(Exception):
    """The run stops: the listing lines it writes and the exit status."""

    def __init__(self, lines, status=1):
        super().__init__(lines[0] if lines else '')
        self.lines, self.status = lines, status


class Mat:
    """1-based column-major n x m matrix."""

    def __init__(self, n, m=None, fill=0.0):
        self.n, self.m = n, (n if m is None else m)
        self.a = [fill] * (self.n * self.m)

    @classmethod
    def of(cls, n, m, cols):
        """An n x m matrix from its elements by columns."""
        c = cls(n, m)
        c.a = list(cols)
        assert len(c.a) == n * m
        return c

    def __getitem__(self, ij):
        i, j = ij
        return self.a[(j - 1) * self.n + i - 1]

    def __setitem__(self, ij, v):
        i, j = ij
        self.a[(j - 1) * self.n + i - 1] = v

    def copy(self):
        return Mat.of(self.n, self.m, self.a)


def packed(n, i, j):
    """0-based place of (i, j), i <= j, in an upper triangle packed by rows."""
    return (i - 1) * (2 * n - i) // 2 + j - 1


def cholpk(ap, n):
    """A = U'U in place on the upper triangle packed by rows (0-based list)."""
    for i in range(1, n + 1):
        ap[packed(n, i, i)] = fsqrt(ap[packed(n, i, i)])
        if i == n:
            return
        u = ap[packed(n, i, i)]
        for j in range(i + 1, n + 1):
            ap[packed(n, i, j)] = fdiv(ap[packed(n, i, j)], u)
        for j in range(i + 1, n + 1):
            e = ap[packed(n, i, j)]
            if e == 0.0:
                continue
            for k in range(j, n + 1):
                ap[packed(n, j, k)] = ap[packed(n, j, k)] - ap[packed(n, i, k)] * e


def gauss_jordan(a, n, perm=None):
    """Gauss-Jordan in place; perm (list of chosen pivot rows) turns on
    partial pivoting. Returns False when a pivot is below 1e-12."""
    swaps = []
    for k in range(1, n + 1):
        if perm is not None:
            best = k
            for i in range(k + 1, n + 1):
                if abs(a[i, k]) > abs(a[best, k]):
                    best = i
            if best != k:
                for j in range(1, n + 1):
                    a[k, j], a[best, j] = a[best, j], a[k, j]
            swaps.append(best)
        p = a[k, k]
        if abs(p) < 1.0e-12:
            return False
        r = 1.0 / p
        for i in range(1, n + 1):
            a[i, k] = a[i, k] * r
        a[k, k] = r
        for j in range(1, n + 1):
            if j == k:
                continue
            e = a[k, j]
            if e == 0.0:
                continue
            for i in range(1, n + 1):
                if i != k:
                    a[i, j] = a[i, j] - a[i, k] * e
            a[k, j] = -(e * r)
    for k in range(n, 0, -1):
        b = swaps[k - 1] if perm is not None else k
        if b != k:
            for i in range(1, n + 1):
                a[i, k], a[i, b] = a[i, b], a[i, k]
    return True


INVRT_STOP = '0DIAGONAL ELEMENT = 0 ENCOUNTERED IN SUBR INVRT'


def invrt(a, n):
    if not gauss_jordan(a, n):
        raise Stop([INVRT_STOP])


def invrtp(a, n):
    """INVRT, and where a pivot in the natural order is too small, again from
    the original with row exchanges."""
    keep = a.copy()
    if gauss_jordan(a, n):
        return
    a.a = list(keep.a)
    if not gauss_jordan(a, n, perm=[]):
        raise Stop([INVRT_STOP])


def matprd(m, k, n, a, b, ta, tb):
    c = Mat(m, n)
    for j in range(1, n + 1):
        if ta:
            for i in range(1, m + 1):
                s = 0.0
                for l in range(1, k + 1):
                    s = s + a[l, i] * b[l, j]
                c[i, j] = s
        else:
            for l in range(1, k + 1):
                beta = b[j, l] if tb else b[l, j]
                for i in range(1, m + 1):
                    c[i, j] = c[i, j] + a[i, l] * beta
    return c


def hyp(x, y):
    p = max(abs(x), abs(y))
    if p == 0:
        return 0.0
    w = min(abs(x), abs(y)) / p
    r = w * w
    while True:
        t = 4.0 + r
        if t == 4.0:
            break
        s = r / t
        u = (1.0 + s) + s
        p = p * u
        v = s / u
        r = (v * v) * r
    return p


def eigvec(a, n):
    """Eigenvalues ascending (list, 1-based: d[1..n]) and eigenvectors
    (columns of a Mat) of the lower triangle of a."""
    z = Mat(n)
    d = [0.0] * (n + 1)
    e = [0.0] * (n + 1)
    for i in range(1, n + 1):
        for j in range(i, n + 1):
            z[j, i] = a[j, i]
        d[i] = a[n, i]
    if n > 1:
        for i in range(n, 1, -1):
            l = i - 1
            h = 0.0
            scale = 0.0
            if l >= 2:
                for k in range(1, l + 1):
                    scale = scale + abs(d[k])
            if l < 2 or scale == 0.0:
                e[i] = d[l]
                for j in range(1, l + 1):
                    d[j] = z[l, j]
                    z[i, j] = 0.0
                    z[j, i] = 0.0
                d[i] = 0.0
                continue
            for k in range(1, l + 1):
                d[k] = d[k] / scale
                h = h + d[k] * d[k]
            f = d[l]
            g = math.sqrt(h) if f < 0 else -math.sqrt(h)
            e[i] = scale * g
            h = h - f * g
            d[l] = f - g
            for j in range(1, l + 1):
                e[j] = 0.0
            for j in range(1, l + 1):
                f = d[j]
                z[j, i] = f
                g = e[j] + z[j, j] * f
                for k in range(j + 1, l + 1):
                    g = g + z[k, j] * d[k]
                    e[k] = e[k] + z[k, j] * f
                e[j] = g
            f = 0.0
            for j in range(1, l + 1):
                e[j] = e[j] / h
                f = f + e[j] * d[j]
            hh = f / (h + h)
            for j in range(1, l + 1):
                e[j] = e[j] - hh * d[j]
            for j in range(1, l + 1):
                f = d[j]
                g = e[j]
                for k in range(j, l + 1):
                    z[k, j] = (z[k, j] - f * e[k]) - g * d[k]
                d[j] = z[l, j]
                z[i, j] = 0.0
            d[i] = h
        for i in range(2, n + 1):
            l = i - 1
            z[n, l] = z[l, l]
            z[l, l] = 1.0
            h = d[i]
            if h != 0.0:
                for k in range(1, l + 1):
                    d[k] = z[k, i] / h
                for j in range(1, l + 1):
                    g = 0.0
                    for k in range(1, l + 1):
                        g = g + z[k, i] * z[k, j]
                    for k in range(1, l + 1):
                        z[k, j] = z[k, j] - g * d[k]
            for k in range(1, l + 1):
                z[k, i] = 0.0
    for i in range(1, n + 1):
        d[i] = z[n, i]
        z[n, i] = 0.0
    z[n, n] = 1.0
    e[1] = 0.0
    if n == 1:
        return d, z
    for i in range(2, n + 1):
        e[i - 1] = e[i]
    f = 0.0
    tst1 = 0.0
    e[n] = 0.0
    for l in range(1, n + 1):
        it = 0
        h = abs(d[l]) + abs(e[l])
        if tst1 < h:
            tst1 = h
        m = l
        while m < n:
            if tst1 + abs(e[m]) == tst1:
                break
            m += 1
        if m != l:
            while True:
                if it == 30:
                    raise Stop([lstwrt([T(' PROBLEMS IN SUBROUTINE EIGVEC AT ROW'), I(l)])])
                it += 1
                g = d[l]
                p = (d[l + 1] - g) / (2.0 * e[l])
                r = hyp(p, 1.0)
                sig = -r if p < 0 else r
                d[l] = e[l] / (p + sig)
                d[l + 1] = e[l] * (p + sig)
                dl1 = d[l + 1]
                h = g - d[l]
                for i in range(l + 2, n + 1):
                    d[i] = d[i] - h
                f = f + h
                p = d[m]
                c = 1.0
                c2 = 1.0
                el1 = e[l + 1]
                s = 0.0
                s2 = 0.0
                c3 = 1.0
                for i in range(m - 1, l - 1, -1):
                    c3 = c2
                    c2 = c
                    s2 = s
                    g = c * e[i]
                    h = c * p
                    r = hyp(p, e[i])
                    e[i + 1] = s * r
                    s = e[i] / r
                    c = p / r
                    p = c * d[i] - s * g
                    d[i + 1] = h + s * (c * g + s * d[i])
                    for k in range(1, n + 1):
                        h = z[k, i + 1]
                        z[k, i + 1] = s * z[k, i] + c * h
                        z[k, i] = c * z[k, i] - s * h
                p = -((((s * s2) * c3) * el1) * e[l]) / dl1
                e[l] = s * p
                d[l] = c * p
                if not (tst1 + abs(e[l]) > tst1):
                    break
        d[l] = d[l] + f
    for i in range(1, n):
        k = i
        p = d[i]
        for j in range(i + 1, n + 1):
            if not (d[j] >= p):
                k = j
                p = d[j]
        if k != i:
            d[k] = d[i]
            d[i] = p
            for r_ in range(1, n + 1):
                z[r_, i], z[r_, k] = z[r_, k], z[r_, i]
    return d, z


# ---------------------------------------------------------------- sire solver, reliabilities
RELAX = 0.6000000238418579
CRIT = 3.999999620418748e-08


def sirsol(K, AP, lam, Y, S, n, t, maxrnd=2000):
    """K[k][j] 0-based (row k, col j); AP packed lower by rows, 0-based list;
    Y[j][l], S[j][l]. Returns (lines, S, rounds_or_None)."""
    lines = [' ']
    DG = [AP[(j + 1) * (j + 2) // 2 - 1] for j in range(n)]
    S = [row[:] for row in S]
    for r in range(1, maxrnd + 1):
        u = [0.0] * t
        v = [0.0] * t
        WK = [[0.0] * t for _ in range(n)]
        for j in range(1, n + 1):
            for k in range(1, j + 1):
                a = AP[j * (j - 1) // 2 + k - 1]
                if k == j or a == 0:
                    continue
                for l in range(t):
                    WK[j - 1][l] = (S[k - 1][l] * a) * lam[l] + WK[j - 1][l]
                    WK[k - 1][l] = (S[j - 1][l] * a) * lam[l] + WK[k - 1][l]
        for j in range(n):
            for k in range(n):
                if k == j:
                    continue
                for l in range(t):
                    WK[j][l] = S[k][l] * K[k][j] + WK[j][l]
            for l in range(t):
                old = S[j][l]
                g = (Y[j][l] - WK[j][l]) / (lam[l] * DG[j] + K[j][j])
                new = (g - old) * RELAX + old
                S[j][l] = new
                u[l] = new * new + u[l]
                x = single(abs(new - old))
                v[l] = single(x * x) + v[l]
        conv = True
        stats = []
        for l in range(t):
            try:
                qv = v[l] / u[l]
            except ZeroDivisionError:
                qv = math.nan if v[l] == 0 else math.inf
            if qv > CRIT or not math.isfinite(u[l]):
                conv = False
            stats.append(math.sqrt(qv) if qv >= 0 else math.nan)
        if r < 10 or r % 10 == 0:
            lines.append('Iteration ' + fmt_i(r, 4) + '  Converge stats = ' + ''.join(fmt_f(x, 8, 5) for x in stats))
        if conv:
            lines.append('  CONVERGENCE OF SIRE SOLUTIONS AT ROUND' + fmt_i(r, 6))
            return lines, S, r
    lines.append(' ')
    lines.append('  WARNING!!!  SIRE SOLUTIONS DID NOT CONVERGE BY ROUND' + fmt_i(maxrnd + 1, 12))
    return lines, S, None


def relapx(K, AP, lam, n, t):
    D = [K[j][j] for j in range(n)]
    REL = [[0.0] * t for _ in range(n)]
    for j in range(1, n + 1):
        acc = [0.0] * t
        sw = 0.0
        for k in range(1, n + 1):
            if k == j:
                continue
            a = AP[j * (j - 1) // 2 + k - 1] if k < j else AP[k * (k - 1) // 2 + j - 1]
            if not (a >= 0):
                w = single(a * a)
                for l in range(t):
                    acc[l] = (w * D[k - 1]) / (lam[l] + D[k - 1]) + acc[l]
                sw = sw + w
        ajj = AP[j * (j + 1) // 2 - 1]
        for l in range(t):
            e = 1.0 if sw == 0 else single(acc[l] / sw)
            den = single((e * ajj + (1 - e)) * lam[l] + D[j - 1])
            REL[j - 1][l] = 1 - lam[l] / den
    return D, REL


# ---------------------------------------------------------------- the run's phases
K_CEIL = 0.3333333134651184
F_FLOOR = 9.999999747378752e-06
P95 = 0.949999988079071
TOL = single(1.0e-4)


class Analysis:
    """The counts and arrays of one run, under the program's names; vectors
    are 1-based lists (element 0 unused)."""

    def __init__(self, c):
        self.c = c
        self.t, self.q, self.g = c['t'], c['q'], c['g']
        self.names = [None] + [n.ljust(8)[:8] for n in c['names']]
        self.NREC, self.NFIXLV, self.NDFDED = c['nrec'], c['nfixlv'], c['ndfded']
        self.pta, self.rel, self.cor_files = [], [], {}


def read_coef(lines):
    for ln in lines:
        yield int(ln[0:5]), int(ln[5:10]), single(float(ln[10:20]))


def heading(m, out):
    out += [lstwrt([T('KESTA OUTPUT')]), ' ']
    out += [lstwrt([I(m.NREC), T(' RECORDS AND '), I(m.q), T(' SIRES IN ANALYSIS')]), ' ']


def start_values(m, out):
    """RES and SIR from the within-subclass matrix, and its report."""
    t, names = m.t, m.names
    WSS = [None] + list(m.c['wss'])
    out.append(lstwrt([T('WITHIN SMALLEST SUBCLASS CORRELATIONS AMONG TRAITS')]))
    m.RES = RES = Mat(t)
    m.SIR = SIR = Mat(t)
    for j in range(1, t + 1):
        for i in range(1, j + 1):
            w = WSS[j * (j - 1) // 2 + i]
            RES[i, j] = RES[j, i] = w
            SIR[i, j] = SIR[j, i] = w / 9.0
        out += fmtwrt('(I5,2X,A,20F7.3)', [I(j), T(names[j])]
                      + [R(RES[j, i] / math.sqrt(RES[i, i] * RES[j, j])) for i in range(1, j + 1)])
    out += [' ', lstwrt([T('WITHIN SMALLEST SUBCLASS STANDARD DEVIATIONS')])]
    for i in range(1, t + 1):
        out += fmtwrt('(I5,2X,A,2X,20F15.6)', [I(i), T(names[i]), R(math.sqrt(RES[i, i]))])


def ainverse(m, coef_lines, out):
    """LINVA, the inverse of the Cholesky factor of A-inverse; the rest of
    pass.dat into its arrays."""
    q, g, t, c = m.q, m.g, m.t, m.c
    AP = [0.0] * (q * (q + 1) // 2)
    cnt = 0
    for i, j, a in read_coef(coef_lines):
        cnt += 1
        if i > j or j > q:
            continue
        AP[packed(q, i, j)] += a
    out.append(lstwrt([I(cnt), T(' ZELK COEFS READ')]))
    for k in range(1, q + 1):
        v = AP[packed(q, k, k)]
        if v < 1.0:
            raise Stop(fmtwrt("('DIAGONAL OF ZELK =',F10.6,'  FOR EQ. NUMBER',I6,/,'PROGRAM QUIT')",
                              [R(v), I(k)]))
    cholpk(AP, q)
    out += [' ', lstwrt([T('CHOLESKY DECOMPOSITION OF A-INVERSE DONE')])]
    L = Mat(q)
    for i in range(1, q + 1):
        for j in range(i, q + 1):
            L[i, j] = 0.0
            L[j, i] = AP[packed(q, i, j)]
    invrt(L, q)
    out += [' ', lstwrt([T('INVERSION OF CHOLESKY MATRIX DONE')])]
    m.LINVA = L
    m.SIRMAT = Mat.of(q, q, c['W'])
    m.SIRRHS = Mat.of(q, t, c['rhs'])
    m.YMY = [None] + list(c['ymy'])
    m.SIREID = [None] + list(c['ids'])
    m.SIREGR = [None] + list(c['groups'])
    m.SIRGRP = Mat.of(q, g, c['N'])
    m.GRPMAT = Mat.of(g, g, c['H'])
    m.GRPRHS = Mat.of(g, t, c['grhs'])
    m.BASEEN = single(c['baseen'])


def absorb_column(m, s):
    """Column s of SIRMAT less the group part NHINV SIRGRP'."""
    for k in range(1, m.g + 1):
        x = m.SIRGRP[s, k]
        for i in range(1, m.q + 1):
            m.SIRMAT[i, s] = m.SIRMAT[i, s] - m.NHINV[i, k] * x


def absorb(m, out):
    """The groups absorbed into the sire equations, YMY and the rhs."""
    q, g, t = m.q, m.g, m.t
    m.GRPEFN = [None] + [m.GRPMAT[k, k] for k in range(1, g + 1)]
    # Mended: H often needs row exchanges to invert.
    invrtp(m.GRPMAT, g)
    m.NHINV = matprd(q, g, g, m.SIRGRP, m.GRPMAT, 0, 0)
    GRPSOL = matprd(g, g, t, m.GRPMAT, m.GRPRHS, 0, 0)
    for i in range(1, t + 1):
        for j in range(1, i + 1):
            for k in range(1, g + 1):
                m.YMY[i * (i - 1) // 2 + j] = m.YMY[i * (i - 1) // 2 + j] - m.GRPRHS[k, i] * GRPSOL[k, j]
    RHSWRK = m.SIRRHS.copy()
    for s in range(1, q + 1):
        absorb_column(m, s)
        for j in range(1, t + 1):
            z = 0.0
            for k in range(1, g + 1):
                z = z + m.NHINV[s, k] * m.GRPRHS[k, j]
            v = RHSWRK[s, j] - z
            RHSWRK[s, j] = v
            m.SIRRHS[s, j] = v
    m.RHSWRK = matprd(q, q, t, m.LINVA, m.SIRRHS, 0, 0)


def _times_lower(W, L, q, by_rows):
    """Each row of W (by_rows) or each column, in place, times the lower
    triangle of L; the products summed over j in order."""
    for i in range(1, q + 1):
        vec = [0.0] * (q + 1)
        for j in range(1, q + 1):
            x = W[i, j] if by_rows else W[j, i]
            for k in range(j, q + 1):
                vec[k] = vec[k] + L[k, j] * x
        for k in range(1, q + 1):
            if by_rows:
                W[i, k] = vec[k]
            else:
                W[k, i] = vec[k]


def canonical(m, out):
    """L SIRMAT L' by rows then by columns, its eigen-decomposition, and the
    rhs into the canonical scale."""
    q, t, W = m.q, m.t, m.SIRMAT
    _times_lower(W, m.LINVA, q, True)
    out += [' ', lstwrt([T('LARGE MATRIX MULTIPLICATION 1 DONE')])]
    _times_lower(W, m.LINVA, q, False)
    out += [' ', lstwrt([T('LARGE MATRIX MULTIPLICATION 2 DONE')])]
    m.SIREIG, E = eigvec(W, q)
    out += [' ', " EIGENVECTORS OF L ZSZ L' OBTAINED"]
    m.SIRRHS = matprd(q, q, t, E, m.RHSWRK, 1, 0)


def reml(m, out):
    """The REML rounds: SIR, RES, RATIOS and TRANSK at the end."""
    q, g, t = m.q, m.g, m.t
    RES, SIR, SIREIG, YMY = m.RES, m.SIR, m.SIREIG, m.YMY
    df = float(m.NREC - m.NFIXLV - g)
    r = 1
    while True:
        RESPK = []
        for i in range(1, t + 1):
            for j in range(i, t + 1):
                RESPK.append(RES[i, j])
        cholpk(RESPK, t)
        LR = Mat(t)
        for i in range(1, t + 1):
            for j in range(i, t + 1):
                LR[j, i] = RESPK[packed(t, i, j)]
        invrt(LR, t)
        W1 = matprd(t, t, t, SIR, LR, 0, 1)
        W2 = matprd(t, t, t, LR, W1, 0, 0)
        theta, Ev = eigvec(W2, t)
        TRANSF = matprd(t, t, t, Ev, LR, 1, 0)
        TRANSK = TRANSF.copy()
        Yc = matprd(q, t, t, m.SIRRHS, TRANSF, 0, 1)
        a = [0.0] * (t + 1)
        for i in range(1, t + 1):
            x = K_CEIL if K_CEIL < theta[i] else theta[i]
            x = F_FLOOR if F_FLOOR > x else x
            a[i] = 1.0 / x
        out.append(' ')
        out += fmtwrt("(' RATIOS FOR DIAGONAL = ',(7F11.3))", [R(a[i]) for i in range(1, t + 1)])
        TR1 = [0.0] * (t + 1)
        V2 = [0.0] * (t + 1)
        U = Mat(q, t)
        for s in range(1, q + 1):
            for i in range(1, t + 1):
                e = a[i] + SIREIG[s]
                TR1[i] = TR1[i] + 1.0 / e
                U[s, i] = Yc[s, i] / e
                V2[i] = V2[i] + SIREIG[s] / (e * e)
        Mm = Mat(t)
        for i in range(1, t + 1):
            for j in range(1, t + 1):
                sm = 0.0
                for s in range(1, q + 1):
                    sm = sm + U[s, i] * Yc[s, j]
                Mm[i, j] = sm
        P = Mat(t)
        for i in range(1, t + 1):
            for j in range(1, i + 1):
                sm = 0.0
                for s in range(1, q + 1):
                    sm = sm + U[s, i] * U[s, j]
                P[i, j] = sm
        w = [0.0] * (t + 1)
        for i in range(1, t + 1):
            a1 = single(a[i])
            f = single(q - a[i] * TR1[i])
            h = single(P95 * f)
            prod = P95 * P[i, i]
            mm = prod if prod < V2[i] else V2[i]
            if a1 * mm > h:
                mm = single(h / a1)
            w[i] = (1.0 - mm / P[i, i]) / (f - a1 * mm)
        old = Mat(t)
        for i in range(1, t + 1):
            for j in range(1, i + 1):
                old[i, j] = SIR[i, j]
                sc = fsqrt(w[j] * w[i]) * P[i, j]
                SIR[i, j] = sc
                SIR[j, i] = sc
        for i in range(1, t + 1):
            if not (K_CEIL > SIR[i, i]):
                gg = single(fsqrt(fdiv(K_CEIL, SIR[i, i])))
                for k in range(1, t + 1):
                    SIR[i, k] = SIR[i, k] * gg
                    SIR[k, i] = SIR[k, i] * gg
        # Mended: Q's rows come in eigenvalue order, not trait order, so its
        # inverse may need row exchanges.
        invrtp(TRANSF, t)
        W2 = matprd(t, t, t, SIR, TRANSF, 0, 1)
        SIR = matprd(t, t, t, TRANSF, W2, 0, 0)
        W2 = matprd(t, t, t, Mm, TRANSF, 0, 1)
        Mm = matprd(t, t, t, TRANSF, W2, 0, 0)
        conv = True
        for i in range(1, t + 1):
            for j in range(1, i + 1):
                x = single(abs(fdiv(SIR[i, j] - old[i, j], fsqrt(old[j, j] * old[i, i]))))
                if x > TOL:
                    conv = False
        for i in range(1, t + 1):
            for j in range(1, t + 1):
                hi, lo = max(i, j), min(i, j)
                RES[i, j] = (YMY[hi * (hi - 1) // 2 + lo] - Mm[i, j]) / df
        if r < 10 or r % 10 == 0:
            out += fmtwrt("(' ROUND',I4,' COMPLETED.')", [I(r)])
        if conv:
            break
        r += 1
        if r > 500:
            out += [' '] + fmtwrt("('CONVERGENCE CRITERION NOT MET AFTER',I5,'  ROUNDS')", [I(500)])
            break
    m.SIR, m.RATIOS, m.TRANSK = SIR, a, TRANSK


def estimates(m, out):
    """Final estimates and their standard errors."""
    q, t, names, RES, SIR, SIREIG = m.q, m.t, m.names, m.RES, m.SIR, m.SIREIG
    out.append(' ')
    if m.RATIOS[1] >= 99000.0:
        out.append('GENETIC VARIANCE MATRIX APPROACHING SINGULARITY')
    out += [' ', 'FINAL ESTIMATES:', '  TRAIT NAME       ERROR VAR.      SIRE VAR.     HERITABILITY']
    for i in range(1, t + 1):
        e, s = RES[i, i], SIR[i, i]
        out += fmtwrt('(I5,2X,A,2X,20F15.6)', [I(i), T(names[i]), R(e), R(s), R(single((4.0 * s) / (s + e)))])
    out += [' ', 'STANDARD ERRORS OF CORRESPONDING PARAMETERS ABOVE']
    qd = float(q)
    qs = single(q)
    q1 = single(qs - 1.0)
    d = single(m.NREC - m.NDFDED)
    c1 = math.sqrt(2.0 / d)
    c2 = qs / q1
    c3 = 2.0 * ((q1 * q1) / d + q1)
    for i in range(1, t + 1):
        e, s = RES[i, i], SIR[i, i]
        k = single(e / s)
        se_e = single(c1 * e)
        p = single(e + s)
        tr2 = 0.0
        for j in range(1, q + 1):
            tr2 = tr2 + 1.0 / (SIREIG[j] + k)
        k2 = single(k / (qd / (qd - tr2 * k) - c2))
        x = (e / k2) / qd
        aa = single((x * x) * c3)
        b = single((((4.0 * e) * s) / k2) / qd + aa)
        v = single((2.0 * (s * s)) / q1 + b)
        se_s = single(math.sqrt(v))
        hp = single((4.0 * s) / p)
        X = single(single(single(se_e * se_e) + v) / single(p * p))
        x = single(v / (s * s) + X)
        y = (single(v + v) / s) / p
        se_h = single(fsqrt(x - y) * hp)
        out += fmtwrt('(I5,2X,A,2X,20F15.6)', [I(i), T(names[i]), R(se_e), R(se_s), R(se_h)])


def correlations(m, out):
    """The correlation table on the listing and the three correlation files
    (cor_files: name -> lines), for more than one trait."""
    t, names, RES, SIR = m.t, m.names, m.RES, m.SIR
    if t == 1:
        return
    PH = Mat(t)
    for o in range(1, t + 1):
        for j in range(1, t + 1):
            PH[o, j] = RES[o, j] + SIR[o, j]
    out.append(' ')
    out += fmtwrt("(15X,'GENETIC CORRELATIONS ARE ABOVE DIAGONAL',/,15X,'PHENOTYPIC CORRELATIONS ARE BELOW "
                  "DIAGONAL',/,'TRAIT    ',25I12)", [I(o) for o in range(1, t + 1)])
    out += fmtwrt("('NAME         ',25(5X,A))", [T(names[o]) for o in range(1, t + 1)])
    gp = []
    gen = [' Genetic correlations', ''.join('    ' + names[o] for o in range(1, t + 1))]
    env = [' Environmental correlations', ''.join('    ' + names[o] for o in range(1, t + 1))]

    def ec(o, j):
        return RES[o, j] - 3.0 * SIR[o, j]

    for o in range(1, t + 1):
        row = []
        for j in range(1, t + 1):
            if j > o:
                row.append(fdiv(SIR[o, j], fsqrt(SIR[o, o] * SIR[j, j])))
            elif j < o:
                row.append(fdiv(PH[o, j], fsqrt(PH[o, o] * PH[j, j])))
            else:
                row.append(1.0)
        out += fmtwrt('(I3,2X,A,2X,25F12.7)', [I(o), T(names[o])] + [R(x) for x in row])
        gp.append(fmt_i(o, 3) + '  ' + names[o] + '  ' + ''.join(fmt_f(x, 16, 7) for x in row))
        cells = [' ' * 12] * t
        for j in range(o, t + 1):
            cells[j - 1] = fmt_f(row[j - 1], 12, 7)
        cells[o - 1] = fmt_f(2.0 * fsqrt(SIR[o, o]), 12, 7)
        gen.append(''.join(cells))
        cells = [' ' * 12] * t
        for j in range(1, o + 1):
            cells[j - 1] = fmt_f(fdiv(ec(o, j), fsqrt(ec(o, o) * ec(j, j))), 12, 7)
        env.append(''.join(cells))
    for A in (SIR, PH, m.TRANSK):
        for i in range(1, t + 1):
            gp.append(' ' + fmt_i(i, 2) + ' ' + names[i] + ''.join(fmt_f(A[i, j], 16, 7) for j in range(1, t + 1)))
    m.cor_files = {'genphen.cor': gp, 'genetic.cor': gen, 'environment.cor': env}


def final_pass(m, coef_lines, out):
    """pass.dat and zelk.coef read again, the groups absorbed again, the sire
    solver, group solutions, PTAs (m.pta) and reliabilities (m.rel)."""
    q, g, t, c = m.q, m.g, m.t, m.c
    RATIOS, NHINV, GRPMAT, GRPRHS = m.RATIOS, m.NHINV, m.GRPMAT, m.GRPRHS
    SIREID, SIREGR, GRPEFN, RES = m.SIREID, m.SIREGR, m.GRPEFN, m.RES
    m.SIRMAT = SIRMAT = Mat.of(q, q, c['W'])
    SIRRHS = Mat.of(q, t, c['rhs'])
    for s in range(1, q + 1):
        absorb_column(m, s)
        for j in range(1, t + 1):
            for k in range(1, g + 1):
                SIRRHS[s, j] = SIRRHS[s, j] - NHINV[s, k] * GRPRHS[k, j]
    TRANSK = m.TRANSK
    RHSWRK = matprd(q, t, t, SIRRHS, TRANSK, 0, 1)
    SOLCAN = Mat(q, t)
    for s in range(1, q + 1):
        for i in range(1, t + 1):
            SOLCAN[s, i] = RHSWRK[s, i] / (RATIOS[i] + SIRMAT[s, s])
    APL = [0.0] * (q * (q + 1) // 2)
    for i, j, a_ in read_coef(coef_lines):
        if j > i or i > q:
            continue
        APL[i * (i - 1) // 2 + j - 1] += a_
    Kl = [[SIRMAT[k, j] for j in range(1, q + 1)] for k in range(1, q + 1)]
    lines, S, _ = sirsol(Kl, APL, RATIOS[1:], [[RHSWRK[s, l] for l in range(1, t + 1)] for s in range(1, q + 1)],
                         [[SOLCAN[s, l] for l in range(1, t + 1)] for s in range(1, q + 1)], q, t)
    out += lines
    for s in range(1, q + 1):
        for l in range(1, t + 1):
            SOLCAN[s, l] = S[s - 1][l - 1]
            if not math.isfinite(SOLCAN[s, l]):
                raise Stop(['0SIRE SOLUTIONS ARE NOT FINITE, NO PTAS WRITTEN'])
    # Mended as in the REML rounds: Q may need row exchanges to invert.
    invrtp(TRANSK, t)
    RHSWRK = matprd(q, t, t, SOLCAN, TRANSK, 0, 1)
    for k in range(1, g + 1):
        for l in range(1, t + 1):
            sm = 0.0
            for s in range(1, q + 1):
                sm = sm + m.SIRGRP[s, k] * RHSWRK[s, l]
            GRPRHS[k, l] = GRPRHS[k, l] - sm
    GRPSOL = matprd(g, g, t, GRPMAT, GRPRHS, 0, 0)
    for s in range(1, q + 1):
        k = SIREGR[s]
        if k <= g:
            for l in range(1, t + 1):
                RHSWRK[s, l] = RHSWRK[s, l] + GRPSOL[k, l]
    grpfmt = "(' ',I9,I5,F12.2,6X,8F12.6,/,(33X,8F12.6,/))"
    out += [' '] + fmtwrt("(12X,'GROUP  EFF.NUM.     GROUP SOLUTIONS')", [])
    for k in range(1, g + 1):
        out += fmtwrt(grpfmt, [I(k), I(k), R(GRPEFN[k])] + [R(GRPSOL[k, l]) for l in range(1, t + 1)])
    base = fmtwrt(grpfmt, [I(g + 1), I(g + 1), R(m.BASEEN)] + [R(0.0)] * t)
    out += base
    out += [' ', '                STANDARD ERRORS OF GROUP SOLUTIONS']
    for k in range(1, g + 1):
        w_ = 0.0
        for s in range(1, q + 1):
            w_ = w_ + NHINV[s, k] * NHINV[s, k]
        se = [math.sqrt(((w_ / RATIOS[i]) * 0.5 + GRPMAT[k, k]) * RES[i, i]) for i in range(1, t + 1)]
        out += fmtwrt(grpfmt, [I(k), I(k), R(GRPEFN[k])] + [R(x) for x in se])
    out += base
    for s in range(1, q + 1):
        m.pta += fmtwrt('(I10,I3,F7.1,25F10.4)', [I(SIREID[s]), I(SIREGR[s]), R(SIRMAT[s, s])]
                        + [R(RHSWRK[s, l]) for l in range(1, t + 1)])
    lam = [RES[i, i] / m.SIR[i, i] for i in range(1, t + 1)]
    _, REL = relapx(Kl, APL, lam, q, t)
    for s in range(1, q + 1):
        m.rel += fmtwrt('(I10,I3,F7.1,25F5.0)', [I(SIREID[s]), I(SIREGR[s]), R(SIRMAT[s, s])]
                        + [R(100 * REL[s - 1][l]) for l in range(t)])


# The phases that write the listing block from the blank line before
# " LARGE MATRIX MULTIPLICATION 1 DONE" up to the line before the sire
# solver's first line.
MIDDLE = (absorb, canonical, reml, estimates, correlations)


def kesta(c, coef_lines):
    """The whole run: (listing lines, sire.pta lines, sire.rel lines, exit status)."""
    m = Analysis(c)
    out = []
    try:
        heading(m, out)
        start_values(m, out)
        ainverse(m, coef_lines, out)
        for phase in MIDDLE:
            phase(m, out)
        final_pass(m, coef_lines, out)
        out += [' ', lstwrt([T('Program KESTA completed normally')])]
        return out, m.pta, m.rel, 0
    except Stop as s:
        out += s.lines
        return out, m.pta, m.rel, s.status
