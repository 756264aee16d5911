// Referential integrity between the open tables of one catalog: the rules every stored table
// the catalog opens is given (see IVdbIntegrityRules).
//
// A foreign key of a child table names its parent table and the parent columns its own
// columns refer to (pairwise, in the order the key lists them). Keys are compared through
// indexes: a record image of the other table is filled with the key's values (converted into
// the other table's column types) and its entry is searched in that table's index over the
// key's columns, whatever order that index lists them in.
//
// - Child side (append, replace): the parent must be open (184); a record whose foreign-key
//   columns are all null needs no parent; otherwise the parent index must hold the key (179).
// - Parent side (delete, replace): only foreign keys of tables open in the catalog are seen.
//   First phase, before the change: a restrict rule (action 0) with a child referring to the
//   key fails with 180; a set-null or set-default rule (actions 1, 2, not carried out) with
//   such a child fails with 52 here, so that nothing is changed. Second phase, after the
//   change: cascade rules (action 3) delete the children, or rewrite their foreign-key columns
//   to the new key, under a write lock on the child table; the children's own rules apply.
// - A parent record whose key columns are all null has no children: children with all-null
//   foreign keys refer to no parent.
// - An index over the child or parent columns that is missing or unusable fails with 6 naming
//   the columns (parent columns as <parent table>.<columns>); a child column whose values
//   the parent column cannot take fails the creation with 44.
//
// Threads: the catalog's session thread, under the table locks of the write that calls.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tables/VdbBaseTable.h"

namespace vdb {

class TVdbCatalog;

class TVdbIntegrityRules final : public IVdbIntegrityRules {
 public:
  // `catalog` must outlive the rules.
  explicit TVdbIntegrityRules(TVdbCatalog& catalog) : FCatalog(catalog) {}

  void CheckNewForeignKey(const TVdbColumnDefs& childColumns, const TVdbForeignKeyDef& fk) override;
  void ResolveForeignKeys(TVdbBaseTable& child) override;
  void CheckReferences(TVdbRelation& child, std::span<const std::uint8_t> record) override;
  void BeforeUpdate(TVdbRelation& parent, std::span<const std::uint8_t> oldRecord,
                    std::span<const std::uint8_t> newRecord) override;
  void AfterUpdate(TVdbRelation& parent, std::span<const std::uint8_t> oldRecord,
                   std::span<const std::uint8_t> newRecord) override;
  void BeforeDelete(TVdbRelation& parent, std::span<const std::uint8_t> record) override;
  void AfterDelete(TVdbRelation& parent, std::span<const std::uint8_t> record) override;

 private:
  // One foreign key between two open tables, with the indexes that serve it.
  struct TLink {
    TVdbBaseTable* Child = nullptr;
    const TVdbForeignKeyDef* Fk = nullptr;
    TVdbBaseTable* Parent = nullptr;
    std::vector<int> ChildCols, ParentCols;  // 0-based, pairwise
    TVdbIndexNo ChildIndex = kVdbNoIndex, ParentIndex = kVdbNoIndex;
  };

  // The open stored table `name` stands for; null when it is not open.
  TVdbBaseTable* FindOpen(std::u16string_view name) const;
  static TLink Resolve(TVdbBaseTable& child, const TVdbForeignKeyDef& fk, TVdbBaseTable& parent);
  // Every foreign key of an open table whose parent is `parent`.
  std::vector<TLink> ChildrenOf(TVdbRelation& parent) const;
  // The record number of the first child referring to the key of `parentRecord`, 0 for none.
  static std::int32_t FirstChild(const TLink& link, std::span<const std::uint8_t> parentRecord);
  static bool KeyChanged(const TLink& link, std::span<const std::uint8_t> oldRecord,
                         std::span<const std::uint8_t> newRecord);

  TVdbCatalog& FCatalog;
};

}  // namespace vdb
