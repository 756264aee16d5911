// Definitions of a stored table: columns (name, value type, options, size, position,
// computation text), indexes (sort definitions), check constraints, candidate keys, foreign
// keys and user types; the rules a new column must satisfy; index specifications in their
// text form (both directions) and in the 50-byte binary form of old table headers.
//
// Definitions are built when a table is created or restructured, read back from the data
// file header and index files, and consulted on every record operation. The computation and
// condition texts are kept as text here; the expression layer compiles them.
//
// Threads: definition objects belong to the table (or statement) that owns them and are used
// by one thread at a time. The value types they point to are shared and immutable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "types/VdbCommon.h"
#include "types/VdbData.h"

namespace vdb {

// Column option bits. Stored in table headers: never renumber.
inline constexpr std::uint32_t coComputed = 0x01;         // the computation is a computed value
inline constexpr std::uint32_t coRangeConstraint = 0x02;  // the text is a range constraint
inline constexpr std::uint32_t coAppendOnly = 0x04;       // with coComputed: only on append
inline constexpr std::uint32_t coHasNullByte = 0x08;      // the field has a null byte
inline constexpr std::uint32_t coNullable = 0x20;         // the column is nullable
inline constexpr std::uint32_t coNoIndex = 0x40;          // record-id/link: no index kept

// Limits of a table.
inline constexpr int VDB_MAX_COLUMNS = 1000;
inline constexpr std::int32_t VDB_MAX_RECORD_SIZE = 32767;
inline constexpr int VDB_MAX_NAME_LENGTH = 40;
inline constexpr int VDB_MAX_INDEXED_LINKS = 9;

// When a computation is evaluated.
enum TVdbCalculationPurpose : std::uint8_t {
  clpInitialization = 1,
  clpAppending = 2,
  clpUpdating = 4
};
using TVdbCalculationPurposes = std::uint8_t;  // set of TVdbCalculationPurpose bits

// True when a column of `columnType` may be nullable at `tableLevel`: from level 4 on every
// type but RecordId; below level 4 neither Char, String, RecordId nor WideString.
bool VdbMayBeNullable(TVdbColumnType columnType, int tableLevel) noexcept;

// ---- Columns

class TVdbColumnDef {
 public:
  // The definition class for the type code of `dataType` (never null): text, number, enum,
  // record id, link/relation, time or plain. Sets coHasNullByte exactly when the type has a
  // null byte (never for memo, wide memo and blob), whatever `options` says. Raises
  // EVdbEngine 144 for type codes 14 and 15 and codes without a type.
  static std::unique_ptr<TVdbColumnDef> CreateColumnDef(std::u16string name,
                                                        const TVdbDataType* dataType,
                                                        std::uint32_t options);
  virtual ~TVdbColumnDef() = default;
  // VdbMayBeNullable.
  static bool MayBeNullable(TVdbColumnType columnType, int tableLevel) noexcept {
    return VdbMayBeNullable(columnType, tableLevel);
  }
  // A deep copy of the same class.
  virtual std::unique_ptr<TVdbColumnDef> Clone() const;
  // Replaces the type by its twin for `level`; from level 6 on Date and TimeStamp columns
  // lose coHasNullByte.
  virtual void SetTableLevel(int level);
  // Transfer between processes (not table files). Appends: the type code as 4 bytes (written,
  // not read back: the receiver makes the definition for the type first), the name as a
  // 32-bit character count and UTF-16LE characters, options (4), size (2), then the class's
  // extra fields (precision, scale, item list, start value and index specification, linked
  // table). All little-endian.
  virtual void SaveToStream(std::vector<std::uint8_t>& out) const;
  // Reads what SaveToStream wrote into a definition made for the same type and returns the
  // bytes consumed. Fields that belong to the type (precision, scale, items) are skipped.
  // Raises 49 when the bytes end early.
  virtual std::size_t LoadFromStream(std::span<const std::uint8_t> in);

  const std::u16string& Name() const noexcept { return FName; }
  void SetName(std::u16string name) { FName = std::move(name); }
  const TVdbDataType* DataType() const noexcept { return FDataType; }
  TVdbColumnType ColumnType() const noexcept { return FDataType->ColumnType(); }
  // Bytes the field occupies in a record (4 for memo, wide memo and blob).
  std::uint16_t Size() const noexcept { return FSize; }
  std::uint32_t Options() const noexcept { return FOptions; }
  void SetOptions(std::uint32_t options) noexcept { FOptions = options; }
  std::int32_t Position() const noexcept { return FPosition; }
  std::uint16_t BaseRltnIdx() const noexcept { return FBaseRltnIdx; }
  std::uint16_t BaseFieldNo() const noexcept { return FBaseFieldNo; }
  void SetBase(std::uint16_t rltnIdx, std::uint16_t fieldNo) noexcept {
    FBaseRltnIdx = rltnIdx;
    FBaseFieldNo = fieldNo;
  }
  bool Nullable() const noexcept { return (FOptions & coNullable) != 0; }
  bool HasNullByte() const noexcept { return (FOptions & coHasNullByte) != 0; }
  // Replaces the type by its nullable or non-nullable twin; sets coNullable (and coHasNullByte
  // when the new type has a null byte) when `value` is true, clears both otherwise.
  void SetNullable(bool value, int tableLevel);

  // The computation text as given (default value, computed value or range constraint text;
  // empty for a stored column). A VidoraPL text of level 5 and up starts with "@".
  const std::u16string& CalculationSource() const noexcept { return FCalculationSource; }
  void SetCalculationSource(std::u16string text) { FCalculationSource = std::move(text); }
  bool HasCalculation() const noexcept { return !FCalculationSource.empty() && !(FOptions & coRangeConstraint); }
  TVdbCalculationPurposes CalculationPurposes() const noexcept;

  // Collation of a string column (name, locale id, options); empty/0 for other types.
  std::u16string Collation() const;
  std::uint32_t LocaleId() const noexcept;
  TStrCmpOptions StrCmpOptions() const noexcept;

 protected:
  TVdbColumnDef(std::u16string name, const TVdbDataType* dataType, std::uint32_t options);
  TVdbColumnDef(const TVdbColumnDef&) = default;
  TVdbColumnDef& operator=(const TVdbColumnDef&) = default;
  void SetDataType(const TVdbDataType* dataType);

 private:
  friend class TVdbColumnDefs;
  std::u16string FCalculationSource;
  std::u16string FName;
  const TVdbDataType* FDataType;
  std::uint16_t FSize = 0;
  std::uint32_t FOptions = 0;
  std::int32_t FPosition = 0;
  std::uint16_t FBaseRltnIdx = 0;
  std::uint16_t FBaseFieldNo = 0;
};

// String, Memo, WideString, WideMemo (0 and 1, 7, 18, 19).
class TVdbTextColumnDef : public TVdbColumnDef {
 public:
  using TVdbColumnDef::TVdbColumnDef;
  std::unique_ptr<TVdbColumnDef> Clone() const override;
  // The collation name as the creator gave it; empty: the table's default.
  const std::u16string& CollationName() const noexcept { return FCollationName; }
  void SetCollationName(std::u16string name) { FCollationName = std::move(name); }

 private:
  std::u16string FCollationName;
};

// Float (3): precision and scale from the float type.
class TVdbNumberColumnDef : public TVdbColumnDef {
 public:
  using TVdbColumnDef::TVdbColumnDef;
  std::unique_ptr<TVdbColumnDef> Clone() const override;
  int Precision() const noexcept;
  int Scale() const noexcept;
};

// Enum (8): the items of the enum type.
class TVdbEnumColumnDef : public TVdbColumnDef {
 public:
  using TVdbColumnDef::TVdbColumnDef;
  std::unique_ptr<TVdbColumnDef> Clone() const override;
  const std::vector<TVdbEnumItem>& Items() const;
};

// RecordId (9).
class TVdbRecordIdColumnDef : public TVdbColumnDef {
 public:
  using TVdbColumnDef::TVdbColumnDef;
  std::unique_ptr<TVdbColumnDef> Clone() const override;
  const std::u16string& IndexSpec() const noexcept { return FIndexSpec; }
  void SetIndexSpec(std::u16string text) { FIndexSpec = std::move(text); }
  // First id handed out (at least 1).
  std::int32_t StartValue() const noexcept { return FStartValue; }
  void SetStartValue(std::int32_t value) noexcept { FStartValue = value; }
  // Stored and returned unchanged.
  std::uint8_t UniqueIdInfo() const noexcept { return FUniqueIdInfo; }
  void SetUniqueIdInfo(std::uint8_t value) noexcept { FUniqueIdInfo = value; }

 private:
  std::u16string FIndexSpec;
  std::int32_t FStartValue = 1;
  std::uint8_t FUniqueIdInfo = 0;
};

// Link (10) and Relation (12).
class TVdbAdlColumnDef : public TVdbColumnDef {
 public:
  using TVdbColumnDef::TVdbColumnDef;
  std::unique_ptr<TVdbColumnDef> Clone() const override;
  // "@" means the table itself.
  const std::u16string& LinkedTable() const noexcept { return FLinkedTable; }
  void SetLinkedTable(std::u16string name) { FLinkedTable = std::move(name); }
  // Resolved when the table opens.
  std::uint16_t LinkedRltnIdx = 0;
  std::uint16_t RelatedRltnIdx = 0;
  std::uint16_t LinkIndexNo = 0;
  std::uint16_t LinkColumnNo = 0;

 private:
  std::u16string FLinkedTable;
};

// Time (13): precision from the time type.
class TVdbTimeColumnDef : public TVdbColumnDef {
 public:
  using TVdbColumnDef::TVdbColumnDef;
  std::unique_ptr<TVdbColumnDef> Clone() const override;
  int Precision() const noexcept;
};

// The ordered, owned column list of a table. Positions are kept dense: position(0) = 0,
// position(i) = position(i - 1) + size(i - 1).
class TVdbColumnDefs {
 public:
  TVdbColumnDefs() = default;
  TVdbColumnDefs(const TVdbColumnDefs& other);
  TVdbColumnDefs& operator=(const TVdbColumnDefs& other);
  TVdbColumnDefs(TVdbColumnDefs&&) noexcept = default;
  TVdbColumnDefs& operator=(TVdbColumnDefs&&) noexcept = default;

  // Appends (taking ownership) and assigns positions from the new column on.
  TVdbColumnDef& Add(std::unique_ptr<TVdbColumnDef> def);
  // `index` 0..count - 1; positions are recomputed.
  void Replace(int index, std::unique_ptr<TVdbColumnDef> def);
  void Delete(int index);
  void Clear() noexcept { FColumns.clear(); }
  int GetCount() const noexcept { return static_cast<int>(FColumns.size()); }
  // `index` 0..count - 1 (raises std::out_of_range otherwise).
  TVdbColumnDef& GetColumnDef(int index) const { return *FColumns.at(static_cast<std::size_t>(index)); }
  // 0-based index of the first column named `name` (see VdbSameName), or -1.
  int Find(std::u16string_view name) const;
  // 0-based index of the first column of type code `columnType`, or -1.
  int FindFirst(TVdbColumnType columnType) const;
  // Position + size of the last column; 0 without columns.
  std::int32_t GetRecordSize() const noexcept;

 private:
  void Reposition(std::size_t from);
  std::vector<std::unique_ptr<TVdbColumnDef>> FColumns;
};

// A column as its creator describes it, before a type exists.
struct TVdbNewColumn {
  std::u16string Name;
  TVdbColumnType ColumnType = vctInteger;
  bool Nullable = false;
  // String / WideString: maximum length in characters; fixed binary: bytes.
  std::int32_t Length = 0;
  std::int32_t Scale = 0;      // Float
  std::int32_t Precision = 0;  // Time (0: the level's default)
  std::u16string EnumNames;    // Enum: item names separated by commas
  std::u16string CollationName;  // String, Memo, WideString, WideMemo; empty: table default
  // Default value (no coComputed), computed value (coComputed) or range constraint
  // (coRangeConstraint); options bits coComputed, coRangeConstraint, coAppendOnly, coNoIndex
  // are taken from `Options`.
  std::u16string Calculation;
  std::uint32_t Options = 0;
  std::int32_t StartValue = 1;     // RecordId
  std::u16string IndexSpec;        // RecordId
  std::uint8_t UniqueIdInfo = 0;   // RecordId
  std::u16string LinkedTable;      // Link, Relation
};

// The outcome of checking a new column: code 0, or an engine error number with its message.
struct TVdbRuleResult {
  std::int16_t Code = 0;
  std::u16string Message;
  bool Ok() const noexcept { return Code == 0; }
};

// Applies the rules for a new column of a table of `tableLevel` that already has `columns`.
// Leaves everything unchanged; the caller adds the column only when the result is Ok.
TVdbRuleResult VdbCheckNewColumn(const TVdbColumnDefs& columns, const TVdbNewColumn& column,
                                 int tableLevel);
// Time precision as stored: 0 → 3 from level 4 on, 2 below; 1 and 2 → 2; 3 → 3; above → 4.
int VdbNormalizeTimePrecision(int precision, int tableLevel) noexcept;
// Builds the definition of a column that passed VdbCheckNewColumn. `tableCollation` is the
// table's default collation name. Raises the type layer's errors for parameters it refuses.
std::unique_ptr<TVdbColumnDef> VdbMakeColumnDef(const TVdbNewColumn& column, int tableLevel,
                                                std::u16string_view tableCollation);

// ---- Indexes

inline constexpr int VDB_MAX_INDEX_LEVELS = 256;
inline constexpr int VDB_MAX_OLD_INDEX_LEVELS = 10;  // table levels 1..4
// Size of the binary form of an index definition in old headers.
inline constexpr std::size_t VDB_SORT_VECTOR_SIZE = 50;

struct TVdbSortItem {
  std::uint8_t ColumnType = 0;   // type code of the column (or of an expression's result)
  std::uint16_t ColumnNo = 0;    // 1-based; 0 for an expression
  std::uint16_t KeyLength = 0;   // key bytes
  bool Descending = false;
  friend bool operator==(const TVdbSortItem&, const TVdbSortItem&) = default;
};

// Decides whether an index expression can be indexed and with which result type. Returns null
// when it cannot. The expression layer supplies it; without one, expression indexes are refused.
using TVdbIndexExpressionTyper =
    std::function<const TVdbDataType*(std::u16string_view expression, int tableLevel)>;

class TVdbSortDef : public TVdbNamedDef {
 public:
  explicit TVdbSortDef(std::u16string name = {}) : TVdbNamedDef(std::move(name)) {}
  std::unique_ptr<TVdbNamedDef> CloneNamed() const override { return Clone(); }
  std::unique_ptr<TVdbSortDef> Clone() const { return std::make_unique<TVdbSortDef>(*this); }
  TVdbSortDef(const TVdbSortDef&) = default;
  TVdbSortDef& operator=(const TVdbSortDef&) = default;

  // Reads an index specification text against `columns` (see the file comment of the .cpp for
  // the syntax). Raises EVdbEngine 98 "Invalid index specification \"%s\"" for an empty part,
  // an unknown column or an expression that cannot be indexed, 61 for more key parts than the
  // level allows. `caseSensitive`: column names are compared exactly.
  static TVdbSortDef FromSpecification(std::u16string_view text, const TVdbColumnDefs& columns,
                                       int tableLevel, bool caseSensitive = false,
                                       const TVdbIndexExpressionTyper& typer = nullptr);
  // Writes the definition as text. `readable`: plain names (and plain numbers); otherwise
  // "${name}" / "$number". `reverse`: the direction taken as normal. `withSize`: 0 never,
  // 1 when the key length differs from the column size, 2 always ":" + characters.
  std::u16string CalcSpecification(const TVdbColumnDefs& columns, bool readable, bool reverse,
                                   int withSize, bool fieldNumbers) const;

  // The 50-byte form of old headers. GetVectorData writes exactly VDB_SORT_VECTOR_SIZE bytes.
  void GetVectorData(std::span<std::uint8_t, VDB_SORT_VECTOR_SIZE> out) const;
  // Reads the 50-byte form. Expression texts are 8-bit text in code page 1252. Raises 98
  // when an item names no column of `columns` (when `columns` is given).
  void SetVectorData(std::span<const std::uint8_t, VDB_SORT_VECTOR_SIZE> data, int tableLevel,
                     const TVdbColumnDefs* columns = nullptr);

  // Whether this index serves every ordering `other` serves (see the .cpp); `reverse` is set
  // when it does so in the opposite direction.
  bool Covers(const TVdbSortDef& other, bool allowReverse, bool& reverse) const;
  // All levels, flags and the expression are equal (names are not compared).
  bool Equals(const TVdbSortDef& other) const;
  void Clear();

  const std::u16string& GetSource() const noexcept { return FSource; }
  void SetSource(std::u16string source) { FSource = std::move(source); }
  const std::u16string& Calculation() const noexcept { return FCalculation; }
  // Makes this an expression index over `expression` whose result has `resultType`.
  void SetCalculation(std::u16string expression, const TVdbDataType& resultType, int tableLevel);

  bool IsUnique = false;
  bool IsVarSize = false;
  bool IsCalculated = false;
  std::vector<TVdbSortItem> Items;  // LevelCount = Items.size()
  std::int32_t FSize = 0;           // entry size: 4 + key lengths
  int LevelCount() const noexcept { return static_cast<int>(Items.size()); }

 private:
  std::u16string FSource;
  std::u16string FCalculation;
};

// ---- Constraints and types

class TVdbCheckDef : public TVdbNamedDef {
 public:
  TVdbCheckDef(std::u16string name, std::u16string condition)
      : TVdbNamedDef(std::move(name)), FConditionText(std::move(condition)) {}
  std::unique_ptr<TVdbNamedDef> CloneNamed() const override { return std::make_unique<TVdbCheckDef>(*this); }
  TVdbCheckDef(const TVdbCheckDef&) = default;
  const std::u16string& ConditionText() const noexcept { return FConditionText; }

 private:
  std::u16string FConditionText;
};

class TVdbCandidateKeyDef : public TVdbNamedDef {
 public:
  TVdbCandidateKeyDef(std::u16string name, bool isPrimary, std::vector<std::u16string> columns)
      : TVdbNamedDef(std::move(name)), FIsPrimary(isPrimary), FColumnNames(std::move(columns)) {}
  std::unique_ptr<TVdbNamedDef> CloneNamed() const override {
    return std::make_unique<TVdbCandidateKeyDef>(*this);
  }
  TVdbCandidateKeyDef(const TVdbCandidateKeyDef&) = default;
  bool IsPrimary() const noexcept { return FIsPrimary; }
  const std::vector<std::u16string>& ColumnNames() const noexcept { return FColumnNames; }
  // The names joined by ", ", each without a leading "$".
  std::u16string JoinedColumnNames() const;
  // The index that enforces the key (filled by the table).
  TVdbSortDef IndexDef;

 private:
  bool FIsPrimary;
  std::vector<std::u16string> FColumnNames;
};

enum TVdbReferentialAction : std::uint8_t { traNone = 0, traSetNull = 1, traSetDefault = 2, traCascade = 3 };

class TVdbForeignKeyDef : public TVdbNamedDef {
 public:
  explicit TVdbForeignKeyDef(std::u16string name = {}) : TVdbNamedDef(std::move(name)) {}
  std::unique_ptr<TVdbNamedDef> CloneNamed() const override {
    return std::make_unique<TVdbForeignKeyDef>(*this);
  }
  TVdbForeignKeyDef(const TVdbForeignKeyDef&) = default;
  std::vector<std::u16string> ColumnNames;
  std::u16string ParentTableName;
  std::vector<std::u16string> ParentColumnNames;
  TVdbReferentialAction UpdateAction = traNone;
  TVdbReferentialAction DeleteAction = traNone;
  // Resolved when the table opens.
  std::int16_t ChildIndexNo = -1;
  std::int16_t ParentRltnIdx = 0;
  std::int16_t ParentIndexNo = -1;
};

class TVdbTypeDef : public TVdbNamedDef {
 public:
  TVdbTypeDef(std::u16string name, std::int16_t typeCode, std::int16_t superTypeCode)
      : TVdbNamedDef(std::move(name)), TypeCode(typeCode), SuperTypeCode(superTypeCode) {}
  std::unique_ptr<TVdbNamedDef> CloneNamed() const override { return std::make_unique<TVdbTypeDef>(*this); }
  TVdbTypeDef(const TVdbTypeDef&) = default;
  std::int16_t TypeCode;
  std::int16_t SuperTypeCode;
};

using TVdbCheckDefs = TVdbNamedDefs<TVdbCheckDef>;
using TVdbCandidateKeyDefs = TVdbNamedDefs<TVdbCandidateKeyDef>;
using TVdbForeignKeyDefs = TVdbNamedDefs<TVdbForeignKeyDef>;
using TVdbTypeDefs = TVdbNamedDefs<TVdbTypeDef>;

// Splits a column list ("A, B,C") at commas, trimming blanks; empty parts are dropped.
std::vector<std::u16string> VdbSplitColumnList(std::u16string_view text);
// Joins names with ", ".
std::u16string VdbJoinColumnList(const std::vector<std::u16string>& names);

}  // namespace vdb
