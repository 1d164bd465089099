#include "support/passdat.h"

#include <cstring>

template <class T>
static std::string bytes(const T* p, size_t n) {
  std::string s(n * sizeof(T), '\0');
  if (n) std::memcpy(s.data(), p, s.size());
  return s;
}

std::string raw(const int32_t* p, size_t n) { return bytes(p, n); }
std::string raw(const double* p, size_t n) { return bytes(p, n); }
std::string raw(const float* p, size_t n) { return bytes(p, n); }

std::string binrec(const std::string& data) {
  int32_t len = (int32_t)data.size();
  std::string l = raw(&len, 1);
  return l + data + l;
}

std::string pass_bytes(const PassData& p) {
  std::string f;
  f += binrec(raw(&p.t, 1));
  f += binrec(raw(&p.q, 1));
  f += binrec(raw(&p.g, 1));
  std::string names;
  for (int i = 0; i < p.t; ++i) {
    std::string n = i < (int)p.names.size() ? p.names[i] : "TRAIT" + std::to_string(i + 1);
    n.resize(8, ' ');
    names += n;
  }
  f += binrec(names);
  f += binrec(raw(p.rhs.data(), p.rhs.size()));
  f += binrec(raw(p.wss.data(), p.wss.size()) + raw(p.ymy.data(), p.ymy.size()) + raw(&p.nfixlv, 1) +
              raw(&p.nrec, 1) + raw(&p.ndfded, 1));
  for (int m = 0; m < p.q; ++m) f += binrec(raw(p.W.data() + (size_t)m * p.q, p.q));
  f += binrec(raw(p.id.data(), p.id.size()) + raw(p.gr.data(), p.gr.size()));
  f += binrec(raw(p.N.data(), p.N.size()));
  f += binrec(raw(p.H.data(), p.H.size()) + raw(p.grhs.data(), p.grhs.size()) + raw(&p.baseen, 1));
  return f;
}
