// Helpers shared by the value-type units: little-endian field access, error raising and the
// three-way results. Internal to engine/types. Stateless: any thread may use them.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbData.h"

namespace vdb::detail {

template <class T>
T LoadLE(std::span<const std::uint8_t> bytes, std::size_t offset = 0) {
  using U = std::make_unsigned_t<T>;
  U u = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) u = static_cast<U>(u | (static_cast<U>(bytes[offset + i]) << (8 * i)));
  return static_cast<T>(u);
}

template <class T>
void StoreLE(std::span<std::uint8_t> bytes, T value, std::size_t offset = 0) {
  using U = std::make_unsigned_t<T>;
  const U u = static_cast<U>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) bytes[offset + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

// <0 / 0 / >0 to vcrLess / vcrEqual / vcrGreater.
inline int ToCompareResult(int threeWay) noexcept {
  return threeWay < 0 ? vcrLess : threeWay == 0 ? vcrEqual : vcrGreater;
}

template <class T>
int CompareScalars(const T& a, const T& b) noexcept {
  return a < b ? vcrLess : b < a ? vcrGreater : vcrEqual;
}

// Result for comparisons where a side is null: in expressions undefined, in index order null
// sorts first and equals null. Returns -1 when neither side is null.
inline int NullCompare(bool aNull, bool bNull, TVdbCompareMode mode) noexcept {
  if (!aNull && !bNull) return -1;
  if (mode == vcmExpression) return vcrUndefined;
  if (aNull && bNull) return vcrEqual;
  return aNull ? vcrLess : vcrGreater;
}

// Code 81: "Value %s of type %s exceeds the allowed range from %s to %s".
[[noreturn]] inline void RaiseRange(const std::u16string& value, const std::u16string& typeName,
                                    const std::u16string& min, const std::u16string& max) {
  throw EVdbEngine(errValueExceedsTypeRange, {value, typeName, min, max});
}

// Code 135 carries a free text ("%s").
[[noreturn]] inline void RaiseText(const std::u16string& text) { throw EVdbEngine(errText, {text}); }

// Code 178: "Division by zero".
[[noreturn]] inline void RaiseDivisionByZero() { throw EVdbEngine(errDivisionByZero, {}); }

// Code 44 for a conversion the types do not allow: "Type mismatch: From->To".
[[noreturn]] inline void RaiseConversion(const TVdbDataType& from, const TVdbDataType& to) {
  throw EVdbEngine(errTypeMismatch, {from.SqlName() + u"->" + to.SqlName()});
}

inline bool EqualsAsciiNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

inline std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  return s;
}

// Double arithmetic shared by the numeric and date/time types; raises 178 on x / 0.
double FloatArith(TVdbDataBinaryOperator op, double a, double b);

}  // namespace vdb::detail
