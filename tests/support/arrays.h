// Comparing the model's arrays with plain vectors in the tests.
#pragma once

#include <algorithm>
#include <vector>

template <class T, class A1, class A2>
bool operator==(const std::vector<T, A1>& a, const std::vector<T, A2>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}
