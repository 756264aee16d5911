// The named variables of a statement: its parameters (:name in the text), each with a data
// type (or none yet: the type is then taken from the first value given) and a value.
//
// A variable is empty after ClearParams (neither NULL nor set); an expression that reads an
// empty variable gets NULL.
//
// Threads: a list belongs to one statement and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "types/VdbData.h"

namespace vdb {

struct TVdbSqlVariable {
  std::u16string Name;
  const TVdbDataType* Type = nullptr;  // null: open until the first value
  TVdbDataValue Value;
  bool IsSet = false;
};

class TVdbSqlVariableList {
 public:
  // Null when there is none of that name (compared without regard to case).
  TVdbSqlVariable* Find(std::u16string_view name);
  const TVdbSqlVariable* Find(std::u16string_view name) const;
  int IndexOf(std::u16string_view name) const;
  TVdbSqlVariable& At(int index) { return FItems.at(static_cast<std::size_t>(index)); }
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  // Raises 71 for a second variable of that name. `columnType` 0 or 157 leaves the type open;
  // `spec` is the length of a string (0 or less: 255; long texts become memos).
  TVdbSqlVariable& Add(std::u16string name, std::int16_t columnType, std::int32_t spec);
  // Every variable becomes empty.
  void Clear();
  // Sets a variable from text: `size` -1 gives NULL; blob and fixed-binary variables take the
  // bytes; an open variable reads a number, date, time or timestamp literal, else the text as a
  // wide string; others convert the text as a literal of their type. Raises 50 for an unknown
  // name, the conversion's engine error, or 44 naming the text and the type.
  void SetFromText(std::u16string_view name, std::u16string_view text, std::int32_t size);
  void SetValue(std::u16string_view name, const TVdbDataValue& value, const TVdbDataType& type);

 private:
  std::vector<TVdbSqlVariable> FItems;
};

}  // namespace vdb
