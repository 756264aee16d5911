// Comparing and copying owned child nodes of syntax trees (expressions, conditions, statements):
// a missing child equals only a missing child and copies as missing.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace vdb {

template <class T>
bool EqualPtr(const std::unique_ptr<T>& a, const std::unique_ptr<T>& b) {
  if (!a || !b) return !a && !b;
  return a->IsSyntacticallyEqual(*b);
}

template <class T>
bool EqualList(const std::vector<std::unique_ptr<T>>& a, const std::vector<std::unique_ptr<T>>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!EqualPtr(a[i], b[i])) return false;
  return true;
}

template <class T>
std::unique_ptr<T> CopyPtr(const std::unique_ptr<T>& p) {
  return p ? p->CreateCopy() : nullptr;
}

}  // namespace vdb
