// Edit formats and the writers: FMTWRT, LSTWRT, CELWRT.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "records/rec_internal.h"
#include "records/records.h"

using namespace rec;

// ---- Parsing an edit format -------------------------------------------------

namespace {

struct Parser {
  const std::string& s;
  size_t i = 0;

  [[noreturn]] void bad() { RUNERR(62, "syntax error in format " + s); }
  void blanks() {
    while (i < s.size() && s[i] == ' ') ++i;
  }
  int number() {
    int v = 0;
    bool any = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      v = v * 10 + (s[i++] - '0');
      any = true;
    }
    if (!any) bad();
    return v;
  }
  // Elements up to the closing parenthesis (consumed).
  std::vector<Format::Elem> list(bool top) {
    std::vector<Format::Elem> out;
    for (;;) {
      blanks();
      if (i >= s.size()) bad();
      char c = s[i];
      if (c == ')') {
        ++i;
        return out;
      }
      if (c == ',') {
        ++i;
        continue;
      }
      Format::Elem e;
      if (c == '\'') {
        ++i;
        e.kind = Format::Elem::LIT;
        for (;;) {
          if (i >= s.size()) bad();
          if (s[i] == '\'') {
            if (i + 1 < s.size() && s[i + 1] == '\'') {
              e.lit.push_back('\'');
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          e.lit.push_back(s[i++]);
        }
      } else if (c == '/') {
        ++i;
        e.kind = Format::Elem::SLASH;
      } else {
        int rep = 1;
        bool has_rep = false;
        if (c >= '0' && c <= '9') {
          rep = number();
          has_rep = true;
          blanks();
        }
        if (i >= s.size()) bad();
        char k = (char)toupper((unsigned char)s[i++]);
        e.rep = rep;
        if (k == '(') {
          if (!top) bad();  // one level of groups only
          e.kind = Format::Elem::GROUP;
          e.body = list(false);
        } else if (k == 'I') {
          e.kind = Format::Elem::I;
          e.w = number();
        } else if (k == 'F') {
          e.kind = Format::Elem::F;
          e.w = number();
          if (i >= s.size() || s[i] != '.') bad();
          ++i;
          e.d = number();
        } else if (k == 'A') {
          e.kind = Format::Elem::A;
        } else if (k == 'X') {
          if (!has_rep) bad();
          e.kind = Format::Elem::X;
          e.w = rep;
          e.rep = 1;
        } else {
          bad();
        }
      }
      out.push_back(std::move(e));
    }
  }
};

}  // namespace

Format::Format(const char* t) : text(t) {
  Parser p{text};
  p.blanks();
  if (p.i >= text.size() || text[p.i] != '(') p.bad();
  ++p.i;
  elems = p.list(true);
  p.blanks();
  if (p.i != text.size()) p.bad();  // nothing may follow the closing parenthesis
  revert = 0;
  for (size_t k = 0; k < elems.size(); ++k)
    if (elems[k].kind == Elem::GROUP) revert = (int)k;
}

// ---- Editing numbers ---------------------------------------------------------
// The editors append straight to the output buffer: zelk writes millions of
// lines, and a string per item would cost more than the editing itself.

static void stars(std::string& out, int w) { out.append((size_t)w, '*'); }

static void right(std::string& out, const char* t, size_t n, int w) {
  if ((int)n > w) return stars(out, w);
  out.append((size_t)w - n, ' ');
  out.append(t, n);
}

// Decimal digits of v written backwards ending at `end`; returns the first.
static char* digits_back(char* end, unsigned long long v) {
  do {
    *--end = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  return end;
}

static void edit_i(std::string& out, int32_t v, int w) {
  char buf[16];
  char* e = buf + sizeof buf;
  // Magnitude in unsigned arithmetic: the lowest integer has no positive twin.
  char* p = digits_back(e, v < 0 ? 0ull - (unsigned long long)(int64_t)v : (unsigned long long)v);
  if (v < 0) *--p = '-';
  right(out, p, (size_t)(e - p), w);
}

static const unsigned long long kPow10[] = {1ull,         10ull,         100ull,         1000ull,
                                            10000ull,     100000ull,     1000000ull,     10000000ull,
                                            100000000ull, 1000000000ull, 10000000000ull};

// True for +0 (checked on the bits, as comparisons see subnormals as zero).
static bool is_zero_bits(double ax) {
  uint64_t b;
  std::memcpy(&b, &ax, sizeof b);
  return b == 0;
}

static void edit_f(std::string& out, double x, bool single, int w, int d) {
  if (std::isnan(x)) return w >= 3 ? right(out, "NaN", 3, w) : stars(out, w);
  if (std::isinf(x)) {
    bool neg = x < 0;
    if (!neg && w >= 8) return right(out, "Infinity", 8, w);
    if (neg && w >= 9) return right(out, "-Infinity", 9, w);
    if (!neg && w >= 3) return right(out, "Inf", 3, w);
    if (neg && w >= 4) return right(out, "-Inf", 4, w);
    return stars(out, w);
  }
  // |x| rounded to d decimals on its exact binary value, ties to even, as
  // integer digits ip[0..ilen) and decimals fr[0..d).
  double ax = std::fabs(x);
  char ibuf[24], sbuf[400];
  const char* ip;
  const char* fr;
  size_t ilen;
  bool below_one;
  // A single-precision value times 10^d (d <= 10) is exact in double (24 bits
  // times at most 24 bits of 5^d), so rounding that product to an integer is
  // the exact rounding. Everything else takes the exact decimal conversion.
  double y = single && d <= 10 ? ax * (double)kPow10[d] : 0;
  if (single && d <= 10 && y < 9.0e15) {
    unsigned long long k = (unsigned long long)std::nearbyint(y);
    unsigned long long ipart = k / kPow10[d], fpart = k % kPow10[d];
    char* e = ibuf + sizeof ibuf;
    char* f = e;
    for (int j = 0; j < d; ++j) {
      *--f = (char)('0' + fpart % 10);
      fpart /= 10;
    }
    char* i = digits_back(f, ipart);
    ip = i;
    ilen = (size_t)(f - i);
    fr = f;
    below_one = ipart == 0;
  } else {
    int n = snprintf(sbuf, sizeof sbuf, "%.*f", d, ax);
    if (n <= 0 || n >= (int)sizeof sbuf) return stars(out, w);
    const char* dot = d > 0 ? (const char*)std::memchr(sbuf, '.', (size_t)n) : nullptr;
    ip = sbuf;
    ilen = dot ? (size_t)(dot - sbuf) : (size_t)n;
    fr = dot ? dot + 1 : sbuf + n;
    below_one = ilen == 1 && sbuf[0] == '0';
  }
  // Sign, integer digits ('0' below one only with d = 0 or when there is
  // room), '.', decimals; right-aligned, or asterisks when it cannot fit.
  // The '-' of a value below zero is told by the sign bit: under
  // denormals-are-zero a comparison would take a negative subnormal for zero.
  bool neg = std::signbit(x) && !is_zero_bits(ax);
  size_t len = (neg ? 1 : 0) + (below_one ? 0 : ilen) + 1 + (size_t)d;
  bool zero = below_one && (d == 0 || (int)len + 1 <= w);
  if (zero) ++len;
  if ((int)len > w) return stars(out, w);
  size_t at = out.size();
  out.resize(at + (size_t)w);
  char* p = &out[at];
  std::memset(p, ' ', (size_t)w - len);
  p += (size_t)w - len;
  if (neg) *p++ = '-';
  if (zero) *p++ = '0';
  else if (!below_one) p = (char*)std::memcpy(p, ip, ilen) + ilen;
  *p++ = '.';
  std::memcpy(p, fr, (size_t)d);
}

std::string rec::edit_real(double x, bool single, int w, int d) {
  std::string s;
  edit_f(s, x, single, w, d);
  return s;
}

std::string EDITF(double x, int w, int d) { return edit_real(x, false, w, d); }

// ---- FMTWRT --------------------------------------------------------------------

namespace {

// The walk edits each line straight into the file's output buffer, from
// `base` on; a line is complete when line_done adds its LF.
struct Walk {
  File& f;
  const Format& fmt;
  const Item* items;
  int n;
  int next = 0;  // next item
  std::string& out;
  size_t base;
  size_t pos = 0;  // columns already passed on the line

  // Blanks up to the position; only writing fills them in, so a line ends
  // with its last written character.
  void pad() {
    size_t have = out.size() - base;
    if (have < pos) out.append(pos - have, ' ');
  }
  void moved() { pos = out.size() - base; }
  void end_line() {
    line_done(f);
    base = out.size();
    pos = 0;
  }
  [[noreturn]] void mismatch() {
    out.resize(base);  // the half-built line is not written
    RUNERR(61, f.unit);
  }

  // Carries out one element; false when the walk stops.
  bool elem(const Format::Elem& e) {
    switch (e.kind) {
      case Format::Elem::LIT:
        pad();
        out.append(e.lit);
        moved();
        return true;
      case Format::Elem::X: pos += (size_t)e.w; return true;
      case Format::Elem::SLASH: end_line(); return true;
      case Format::Elem::GROUP:
        for (int r = 0; r < e.rep; ++r)
          for (const auto& b : e.body)
            if (!elem(b)) return false;
        return true;
      default: break;
    }
    for (int r = 0; r < e.rep; ++r) {
      if (next >= n) return false;
      const Item& it = items[next++];
      pad();
      if (e.kind == Format::Elem::I) {
        if (it.type != Item::INT) mismatch();
        edit_i(out, it.i, e.w);
      } else if (e.kind == Format::Elem::F) {
        if (it.type != Item::REAL4 && it.type != Item::REAL8) mismatch();
        edit_f(out, it.r, it.type == Item::REAL4, e.w, e.d);
      } else {
        if (it.type != Item::TEXT) mismatch();
        out.append(it.s.data(), it.s.size());
      }
      moved();
    }
    return true;
  }

  void run() {
    size_t start = 0;
    for (;;) {
      int before = next;
      for (size_t k = start; k < fmt.elems.size(); ++k)
        if (!elem(fmt.elems[k])) return end_line();
      if (next >= n) return end_line();
      // Items outlast the format: a new line, and the walk resumes at the
      // last top-level group (or at the start).
      if (next == before && start == (size_t)fmt.revert) mismatch();  // nothing takes an item
      end_line();
      start = (size_t)fmt.revert;
    }
  }
};

}  // namespace

void FMTWRT(int unit, const Format& fmt, const Item* items, int n) {
  File& f = file(unit);
  if (f.readonly) RUNERR(38, unit);
  Walk w{f, fmt, items, n, 0, f.obuf, f.obuf.size()};
  w.run();
}

// ---- LSTWRT and CELWRT ---------------------------------------------------------

void LSTWRT(int unit, std::initializer_list<Item> items) {
  File& f = file(unit);
  std::string line;
  bool after_text = false;
  for (const Item& it : items) {
    if (it.type == Item::INT) {
      edit_i(line, it.i, 12);  // every 32-bit integer fits in 12 columns
      after_text = false;
    } else if (it.type == Item::TEXT) {
      if (!after_text) line.push_back(' ');
      line.append(it.s.data(), it.s.size());
      after_text = true;
    } else {
      RUNERR(61, unit);  // the programs write only integers and texts this way
    }
  }
  if (items.size() == 0) line = " ";
  put_line(f, line.data(), line.size());
}

void CELWRT(char* cell, const Format& fmt, double value) {
  const Format::Elem* e = nullptr;
  for (const auto& x : fmt.elems)
    if (x.kind == Format::Elem::F) e = &x;
  if (!e) RUNERR(61, "cell format without an F descriptor: " + fmt.text);
  std::string s;
  edit_f(s, value, false, e->w, e->d);
  std::memcpy(cell, s.data(), s.size());
}
