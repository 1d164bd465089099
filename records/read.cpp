// The readers: FMTRD (fixed layout), LSTRD (free format), BINRD (binary records).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "records/rec_internal.h"
#include "records/records.h"

namespace rec {

static bool fill(File& f) {
  if (f.ieof) return false;
  if (f.ipos > 0 && f.ipos >= f.ibuf.size()) {
    f.ibuf.clear();
    f.ipos = 0;
  }
  size_t old = f.ibuf.size();
  f.ibuf.resize(old + (1u << 16));
  ssize_t n;
  do {
    n = ::pread(f.fd, f.ibuf.data() + old, 1u << 16, f.rpos);
  } while (n < 0 && errno == EINTR);
  if (n < 0) RUNERR(39, f.unit);
  f.ibuf.resize(old + (size_t)n);
  f.rpos += n;
  if (n == 0) f.ieof = true;
  return n > 0;
}

size_t read_bytes(File& f, char* dst, size_t n) {
  size_t got = 0;
  while (got < n) {
    if (f.ipos >= f.ibuf.size() && !fill(f)) break;
    size_t k = std::min(n - got, f.ibuf.size() - f.ipos);
    std::memcpy(dst + got, f.ibuf.data() + f.ipos, k);
    f.ipos += k;
    got += k;
  }
  return got;
}

bool next_line(File& f, std::string& out) {
  out.clear();
  bool any = false;
  for (;;) {
    if (f.ipos >= f.ibuf.size() && !fill(f)) break;
    any = true;
    const char* b = f.ibuf.data() + f.ipos;
    size_t avail = f.ibuf.size() - f.ipos;
    const void* nl = std::memchr(b, '\n', avail);
    if (nl) {
      size_t k = (size_t)((const char*)nl - b);
      out.append(b, k);
      f.ipos += k + 1;
      break;
    }
    out.append(b, avail);
    f.ipos += avail;
  }
  if (!any) return false;  // nothing left; a last line without its LF is still a line
  if (!out.empty() && out.back() == '\r') out.pop_back();
  return true;
}

}  // namespace rec

using namespace rec;

// ---- Storing values into items ---------------------------------------------------

namespace {

// The flattened sequence of item elements.
struct Targets {
  const InItem* cur;
  const InItem* end;
  int64_t k = 0;
  Targets(const InItem* b, const InItem* e) : cur(b), end(e) { skip_empty(); }
  void skip_empty() {
    while (cur != end && k >= cur->n) {
      ++cur;
      k = 0;
    }
  }
  bool done() const { return cur == end; }
  const InItem& item() const { return *cur; }
  void* at() const {
    switch (cur->type) {
      case InItem::INT: return (int32_t*)cur->p + k;
      case InItem::REAL4: return (float*)cur->p + k;
      case InItem::REAL8: return (double*)cur->p + k;
      default: return (char*)cur->p + k * cur->len;
    }
  }
  void advance() {
    ++k;
    skip_empty();
  }
};

}  // namespace

// ---- FMTRD ------------------------------------------------------------------------

namespace {

// One value of a numeric field of fixed-layout input.
struct FieldValue {
  int32_t i = 0;
  float f = 0;
  double d = 0;
};

}  // namespace

// Parses the w columns at p (fewer when the line is short: the rest reads as
// blanks). Blanks are ignored; an integer field is an optional sign and
// digits; a real field may add one '.' and an exponent (E, e, D or d, or a
// sign alone, then digits). False for any other character.
static bool parse_field(const char* p, size_t n, InItem::Type type, int d, FieldValue* out) {
  char sb[128];
  std::string big;
  char* s = sb;
  if (n > sizeof sb) {
    big.resize(n);
    s = &big[0];
  }
  size_t len = 0;
  for (size_t k = 0; k < n; ++k)
    if (p[k] != ' ') s[len++] = p[k];
  const bool real = type != InItem::INT;
  if (len == 0 || (len == 1 && (s[0] == '+' || s[0] == '-'))) {  // blanks, or a sign alone: zero
    *out = FieldValue();
    return true;
  }
  size_t i = 0;
  bool neg = false;
  if (s[i] == '+' || s[i] == '-') neg = s[i++] == '-';
  const size_t mant_at = i;
  bool point = false;
  int frac = 0, sig = 0;  // decimals; significant digits in m
  unsigned long long m = 0;
  bool m_exact = true;  // m holds every significant digit
  for (; i < len; ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      if (point) ++frac;
      if (m == 0 && c == '0') continue;
      if (sig < 19) m = m * 10 + (unsigned long long)(c - '0'), ++sig;
      else m_exact = false;
    } else if (real && c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  const size_t mant_end = i;
  long exp = 0;
  if (real && i < len) {
    char c = s[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') ++i;
    else if (c != '+' && c != '-') return false;
    bool eneg = false;
    if (i < len && (s[i] == '+' || s[i] == '-')) eneg = s[i++] == '-';
    if (i >= len) return false;
    while (i < len && s[i] >= '0' && s[i] <= '9') {
      if (exp < 100000) exp = exp * 10 + (s[i] - '0');
      ++i;
    }
    if (eneg) exp = -exp;
  }
  if (i != len) return false;
  if (!real) {
    // Digits only; more than 10 significant ones are out of range anyway.
    if (!m_exact || m > 2147483648ull || (!neg && m > 2147483647ull)) return false;
    out->i = neg ? (int32_t)(0 - (uint32_t)m) : (int32_t)m;
    return true;
  }
  // Without a point the last d digits are the decimals.
  long scale = exp - (point ? frac : d);
  // Exact fast path: an integer and a power of ten both exact in the item's
  // precision, joined by one correctly rounded division or product, give the
  // correctly rounded value of the decimal text.
  static const double p10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (m_exact && type == InItem::REAL4 && m < (1ull << 24) && scale >= -10 && scale <= 10) {
    float v = scale < 0 ? (float)m / (float)p10[-scale] : (float)m * (float)p10[scale];
    out->f = neg ? -v : v;
    return true;
  }
  if (m_exact && type == InItem::REAL8 && m < (1ull << 53) && scale >= -22 && scale <= 22) {
    double v = scale < 0 ? (double)m / p10[-scale] : (double)m * p10[scale];
    out->d = neg ? -v : v;
    return true;
  }
  // Otherwise the exact conversion of the digits and the scale.
  std::string t = neg ? "-" : "";
  for (size_t k = mant_at; k < mant_end; ++k)
    if (s[k] != '.') t.push_back(s[k]);
  if (t.empty() || t == "-") t += "0";
  t += "e" + std::to_string(scale);
  if (type == InItem::REAL4) out->f = std::strtof(t.c_str(), nullptr);
  else out->d = std::strtod(t.c_str(), nullptr);
  return true;
}

int FMTRD(int unit, const Format& fmt, std::initializer_list<InItem> items) {
  File& f = file(unit);
  static std::string line;  // kept between calls: no allocation per line
  if (!next_line(f, line)) return -1;
  Targets tg(items.begin(), items.end());
  size_t col = 0;
  for (const auto& e : fmt.elems) {
    if (e.kind == Format::Elem::X) {
      col += (size_t)e.w;
      continue;
    }
    if (e.kind != Format::Elem::I && e.kind != Format::Elem::F) continue;
    for (int r = 0; r < e.rep && !tg.done(); ++r) {
      const char* p = line.data() + std::min(col, line.size());
      size_t n = col < line.size() ? std::min((size_t)e.w, line.size() - col) : 0;
      col += (size_t)e.w;
      const InItem& it = tg.item();
      // I takes an integer, F a real; a text item takes neither (a number
      // stored into its characters would run past them).
      const bool suits = e.kind == Format::Elem::I ? it.type == InItem::INT
                                                   : it.type == InItem::REAL4 || it.type == InItem::REAL8;
      if (!suits) RUNERR(61, unit);
      FieldValue v;
      if (!parse_field(p, n, it.type, e.d, &v)) RUNERR(64, unit);
      void* at = tg.at();
      if (it.type == InItem::INT) *(int32_t*)at = v.i;
      else if (it.type == InItem::REAL4) *(float*)at = v.f;
      else *(double*)at = v.d;
      tg.advance();
    }
  }
  return 0;
}

// ---- LSTRD ------------------------------------------------------------------------

namespace {

struct Lst {
  File& f;

  bool sep(char c) const { return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\r'; }
  bool blank(char c) const { return c == ' ' || c == '\t' || c == '\r'; }

  // Moves to the next non-blank character, over line ends; false at the end of the file.
  bool seek() {
    for (;;) {
      while (f.lpos < f.line.size() && blank(f.line[f.lpos])) ++f.lpos;
      if (f.lpos < f.line.size()) return true;
      if (!next_line(f, f.line)) return false;
      f.lpos = 0;
    }
  }
  // After a value: blanks, then at most one comma as its separator. A comma
  // that follows only blanks and line ends is still that separator.
  bool comma_due = false;
  void after_value() {
    while (f.lpos < f.line.size() && blank(f.line[f.lpos])) ++f.lpos;
    comma_due = true;
    if (f.lpos < f.line.size() && f.line[f.lpos] == ',') {
      ++f.lpos;
      comma_due = false;
    }
  }
  [[noreturn]] void syntax() { RUNERR(59, f.unit); }

  // A quoted text starting at the quote; continues over line ends.
  std::string quoted() {
    char q = f.line[f.lpos++];
    std::string v;
    for (;;) {
      if (f.lpos >= f.line.size()) {
        if (!next_line(f, f.line)) syntax();
        f.lpos = 0;
        continue;
      }
      char c = f.line[f.lpos++];
      if (c == q) {
        if (f.lpos < f.line.size() && f.line[f.lpos] == q) {
          v.push_back(q);
          ++f.lpos;
        } else {
          break;
        }
      } else {
        v.push_back(c);
      }
      if (v.size() > 2049) syntax();
    }
    if (f.lpos < f.line.size() && !sep(f.line[f.lpos])) syntax();
    return v;
  }
  std::string token() {
    size_t b = f.lpos;
    while (f.lpos < f.line.size() && !sep(f.line[f.lpos])) ++f.lpos;
    if (f.lpos - b > 2049) syntax();
    return f.line.substr(b, f.lpos - b);
  }
};

// A number in an integer's place: sign, digits with at most one '.', exponent.
bool to_int(const std::string& s, int32_t* out, bool* range) {
  // The files' own form, a sign and at most 9 digits, needs no conversion
  // through double precision (the value is the same).
  {
    size_t k = s.size() > 0 && (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (s.size() > k && s.size() - k <= 9 && s.find_first_not_of("0123456789", k) == std::string::npos) {
      int32_t v = 0;
      for (size_t j = k; j < s.size(); ++j) v = v * 10 + (s[j] - '0');
      *out = s[0] == '-' ? -v : v;
      return true;
    }
  }
  size_t i = 0;
  std::string t;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) t.push_back(s[i++]);
  bool digits = false, point = false;
  while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || (s[i] == '.' && !point))) {
    if (s[i] == '.') point = true;
    else digits = true;
    t.push_back(s[i++]);
  }
  if (!digits) return false;
  if (i < s.size()) {
    char c = (char)toupper((unsigned char)s[i]);
    if (c != 'E' && c != 'D' && c != 'Q') return false;
    ++i;
    t.push_back('e');
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) t.push_back(s[i++]);
    bool ed = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      t.push_back(s[i++]);
      ed = true;
    }
    if (!ed || i != s.size()) return false;
  }
  double v = std::strtod(t.c_str(), nullptr);
  double tv = std::trunc(v);
  // Out of the 32-bit range: a conversion error, never an undefined cast.
  if (!(tv >= -2147483648.0 && tv <= 2147483647.0)) {
    *range = true;
    return false;
  }
  *out = (int32_t)tv;
  return true;
}

}  // namespace

int LSTRD(int unit, std::initializer_list<InItem> items, bool eof_ok) {
  File& f = file(unit);
  Lst L{f};
  // A record starts on the line after the one on which the previous ended.
  f.line.clear();
  f.lpos = 0;
  Targets tg(items.begin(), items.end());
  long repeat = 0;          // values still to come from an r*v
  bool rep_null = false;
  std::string rep_value;
  bool rep_quoted = false;
  auto store = [&](const std::string& v, bool quoted_text) {
    const InItem& it = tg.item();
    void* p = tg.at();
    if (it.type == InItem::TEXT) {
      char* c = (char*)p;
      for (int k = 0; k < it.len; ++k) c[k] = k < (int)v.size() ? v[k] : ' ';
    } else {
      if (quoted_text) L.syntax();
      int32_t iv = 0;
      bool range = false;
      if (it.type == InItem::INT) {
        if (!to_int(v, &iv, &range)) RUNERR(range ? 64 : 59, unit);
        *(int32_t*)p = iv;
      } else {
        char* end = nullptr;
        std::string t = v;
        for (char& c : t)
          if (c == 'd' || c == 'D' || c == 'q' || c == 'Q') c = 'e';
        // A number (no hexadecimal form, no "inf" or "nan"), converted once
        // to the item's precision.
        if (t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos) L.syntax();
        if (it.type == InItem::REAL4) *(float*)p = std::strtof(t.c_str(), &end);
        else *(double*)p = std::strtod(t.c_str(), &end);
        if (*end) L.syntax();
      }
    }
  };
  while (!tg.done()) {
    if (repeat > 0) {
      if (!rep_null) store(rep_value, rep_quoted);
      tg.advance();
      --repeat;
      continue;
    }
    if (!L.seek()) {
      if (eof_ok) return -1;
      RUNERR(24, unit);
    }
    char c = f.line[f.lpos];
    if (c == ',') {
      ++f.lpos;
      if (L.comma_due) {  // the separator of the value before
        L.comma_due = false;
        continue;
      }
      tg.advance();  // a null value: the item keeps its value
      continue;
    }
    L.comma_due = false;
    if (c == '/') return 0;  // the rest of the line is ignored
    std::string v;
    bool quoted = false;
    if (c == '\'' || c == '"') {
      v = L.quoted();
      quoted = true;
    } else {
      // "r*v" and "r*": unsigned digits and '*' in front of a value, which
      // may be quoted like any other.
      size_t q = f.lpos;
      while (q < f.line.size() && f.line[q] >= '0' && f.line[q] <= '9') ++q;
      if (q > f.lpos && q < f.line.size() && f.line[q] == '*') {
        long r = 0;
        for (size_t k = f.lpos; k < q; ++k) r = std::min(r * 10 + (f.line[k] - '0'), 1L << 40);
        if (r <= 0) L.syntax();
        f.lpos = q + 1;
        rep_quoted = f.lpos < f.line.size() && (f.line[f.lpos] == '\'' || f.line[f.lpos] == '"');
        rep_value = rep_quoted ? L.quoted() : L.token();
        rep_null = rep_value.empty() && !rep_quoted;
        repeat = r;
        L.after_value();
        continue;
      }
      v = L.token();
    }
    store(v, quoted);
    tg.advance();
    L.after_value();
  }
  return 0;
}

// ---- BINRD ------------------------------------------------------------------------

// Bytes that an item takes in a binary record.
static int64_t item_bytes(const InItem& it) {
  const int64_t size = it.type == InItem::INT || it.type == InItem::REAL4 ? 4 : it.type == InItem::REAL8 ? 8 : it.len;
  return size * (it.n > 0 ? it.n : 0);
}

void BINRD(int unit, std::initializer_list<InItem> items) {
  File& f = file(unit);
  unsigned char lw[4];
  size_t got = read_bytes(f, (char*)lw, 4);
  if (got == 0) RUNERR(24, unit);
  if (got < 4) RUNERR(39, unit);  // the file ends inside a record
  int64_t len = (int64_t)((uint32_t)lw[0] | (uint32_t)lw[1] << 8 | (uint32_t)lw[2] << 16 | (uint32_t)lw[3] << 24);
  if (len > 2147483643) RUNERR(39, unit);
  int64_t need = 0;
  for (const InItem& it : items) need += item_bytes(it);
  if (need > len) RUNERR(67, unit);
  int64_t left = len;
  for (const InItem& it : items) {
    const int64_t bytes = item_bytes(it);
    if (bytes == 0) continue;
    if ((int64_t)read_bytes(f, (char*)it.p, (size_t)bytes) != bytes) RUNERR(39, unit);
    left -= bytes;
  }
  // Data left over after the last item is skipped.
  char skip[4096];
  while (left > 0) {
    size_t k = (size_t)std::min<int64_t>(left, sizeof skip);
    if (read_bytes(f, skip, k) != k) RUNERR(39, unit);
    left -= (int64_t)k;
  }
  unsigned char tw[4];
  if (read_bytes(f, (char*)tw, 4) != 4 || std::memcmp(lw, tw, 4) != 0) RUNERR(39, unit);
}
