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
  revert = 0;
  for (size_t k = 0; k < elems.size(); ++k)
    if (elems[k].kind == Elem::GROUP) revert = (int)k;
}

// ---- Editing numbers ---------------------------------------------------------

static void stars(std::string& out, int w) { out.append((size_t)w, '*'); }

static void right(std::string& out, const char* t, size_t n, int w) {
  if ((int)n > w) return stars(out, w);
  out.append((size_t)w - n, ' ');
  out.append(t, n);
}

static void edit_i(std::string& out, int32_t v, int w) {
  char buf[16];
  int n = snprintf(buf, sizeof buf, "%lld", (long long)v);  // via 64 bits: the lowest integer too
  right(out, buf, (size_t)n, w);
}

// Digits of |x| rounded to d decimals on its exact binary value, ties to even.
// A single-precision value times 10^d (d <= 10) is exact in double, so that
// path rounds the product; everything else takes the exact decimal conversion.
static int magnitude_digits(double ax, bool single, int d, char* buf, size_t cap) {
  static const double p10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
  if (single && d <= 10) {
    double y = ax * p10[d];
    if (y < 9.0e15) {
      unsigned long long k = (unsigned long long)std::nearbyint(y);
      unsigned long long ip = k / (unsigned long long)p10[d], fp = k % (unsigned long long)p10[d];
      if (d == 0) return snprintf(buf, cap, "%llu", ip);
      return snprintf(buf, cap, "%llu.%0*llu", ip, d, fp);
    }
  }
  return snprintf(buf, cap, "%.*f", d, ax);
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
  char digits[400];
  int n = magnitude_digits(std::fabs(x), single, d, digits, sizeof digits);
  if (n <= 0 || n >= (int)sizeof digits) return stars(out, w);
  // digits: "<int>" or "<int>.<frac>"; build sign, integer part, point, decimals.
  const char* dot = std::strchr(digits, '.');
  size_t ilen = dot ? (size_t)(dot - digits) : (size_t)n;
  bool below_one = ilen == 1 && digits[0] == '0';
  char text[420];
  size_t k = 0;
  if (x < 0) text[k++] = '-';
  size_t need = k + (below_one ? 0 : ilen) + 1 + (size_t)d;
  bool zero = below_one && (d == 0 || (int)need + 1 <= w);
  if (!below_one) {
    std::memcpy(text + k, digits, ilen);
    k += ilen;
  } else if (zero) {
    text[k++] = '0';
  }
  text[k++] = '.';
  if (d > 0) {
    std::memcpy(text + k, dot + 1, (size_t)d);
    k += (size_t)d;
  }
  right(out, text, k, w);
}

std::string EDITF(double x, int w, int d) {
  std::string s;
  edit_f(s, x, false, w, d);
  return s;
}

// ---- FMTWRT --------------------------------------------------------------------

namespace {

struct Walk {
  File& f;
  const Format& fmt;
  const Item* items;
  int n;
  int next = 0;  // next item
  std::string line;
  size_t pos = 0;  // columns already passed on the line

  void place(const char* t, size_t len) {
    if (line.size() < pos) line.append(pos - line.size(), ' ');
    line.append(t, len);
    pos += len;
  }
  void place(const std::string& t) { place(t.data(), t.size()); }
  void end_line() {
    put_line(f, line.data(), line.size());
    line.clear();
    pos = 0;
  }
  [[noreturn]] void mismatch() { RUNERR(61, f.unit); }

  // Carries out one element; false when the walk stops.
  bool elem(const Format::Elem& e) {
    switch (e.kind) {
      case Format::Elem::LIT: place(e.lit); return true;
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
      std::string t;
      if (e.kind == Format::Elem::I) {
        if (it.type != Item::INT) mismatch();
        edit_i(t, it.i, e.w);
      } else if (e.kind == Format::Elem::F) {
        if (it.type != Item::REAL4 && it.type != Item::REAL8) mismatch();
        edit_f(t, it.r, it.type == Item::REAL4, e.w, e.d);
      } else {
        if (it.type != Item::TEXT) mismatch();
        t.assign(it.s.data(), it.s.size());
      }
      place(t);
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
  Walk w{file(unit), fmt, items, n, 0, std::string(), 0};
  w.run();
}

// ---- LSTWRT and CELWRT ---------------------------------------------------------

void LSTWRT(int unit, std::initializer_list<Item> items) {
  File& f = file(unit);
  std::string line;
  bool after_text = false;
  for (const Item& it : items) {
    if (it.type == Item::INT) {
      char buf[16];
      int k = snprintf(buf, sizeof buf, "%lld", (long long)it.i);
      line.append((size_t)(12 - k > 0 ? 12 - k : 0), ' ');
      line.append(buf, (size_t)k);
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
