// Named definitions: the common base of index, check, candidate-key, foreign-key and type
// definitions, an owning list of them, and the one rule by which the engine compares the
// names of columns, definitions and storages (the built-in collation without options: case
// and accents are ignored and 'ß' equals "ss").
//
// Threads: definition objects belong to the table or statement that built them and are used
// by one thread at a time; VdbSameName may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vdb {

// True when two names denote the same column, definition or storage.
bool VdbSameName(std::u16string_view a, std::u16string_view b);

class TVdbNamedDef {
 public:
  explicit TVdbNamedDef(std::u16string name = {}) : FName(std::move(name)) {}
  virtual ~TVdbNamedDef() = default;
  const std::u16string& Name() const noexcept { return FName; }
  void SetName(std::u16string name) { FName = std::move(name); }
  // A deep copy of the same class.
  virtual std::unique_ptr<TVdbNamedDef> CloneNamed() const = 0;

 protected:
  TVdbNamedDef(const TVdbNamedDef&) = default;
  TVdbNamedDef& operator=(const TVdbNamedDef&) = default;

  std::u16string FName;
};

// An owned list of named definitions of one kind (T derives from TVdbNamedDef).
template <class T>
class TVdbNamedDefs {
 public:
  TVdbNamedDefs() = default;
  TVdbNamedDefs(const TVdbNamedDefs& other) { *this = other; }
  TVdbNamedDefs& operator=(const TVdbNamedDefs& other) {
    if (this == &other) return *this;
    FItems.clear();
    for (const auto& item : other.FItems) {
      FItems.emplace_back(static_cast<T*>(item->CloneNamed().release()));
    }
    return *this;
  }
  TVdbNamedDefs(TVdbNamedDefs&&) noexcept = default;
  TVdbNamedDefs& operator=(TVdbNamedDefs&&) noexcept = default;

  // Appends and returns the added definition (owned by the list).
  T& Add(std::unique_ptr<T> def) {
    FItems.push_back(std::move(def));
    return *FItems.back();
  }
  // 0-based index of the first definition named `name`, or -1.
  int FindByName(std::u16string_view name) const {
    for (std::size_t i = 0; i < FItems.size(); ++i) {
      if (VdbSameName(FItems[i]->Name(), name)) return static_cast<int>(i);
    }
    return -1;
  }
  // Removes the first definition named `name`; false when there is none.
  bool DeleteByName(std::u16string_view name) {
    const int i = FindByName(name);
    if (i < 0) return false;
    FItems.erase(FItems.begin() + i);
    return true;
  }
  void Clear() noexcept { FItems.clear(); }
  int GetCount() const noexcept { return static_cast<int>(FItems.size()); }
  // `index` must be 0..count - 1.
  T& GetNamedDef(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }

 private:
  std::vector<std::unique_ptr<T>> FItems;
};

}  // namespace vdb
