// The one shape of a walk through a relation: an access path. The accessor keeps its position,
// range, bookmarks and current key; a path knows how one kind of order moves over them: natural
// record order, one index, or a bookmark list. The accessor's filtered moves, counts and
// sequence numbers ask the path of its order and never branch on the kind; a new kind of order
// is a new path. Ranges are the bounds each ordered path honours (natural: record numbers,
// index: key entries); a filter wraps whatever the path yields (TVdbAccessor::DoFirst etc.).
//
// Paths are stateless and shared; every call works on the accessor it is given. Internal to
// engine/session; the caller holds no lock, a path takes the relation's read lock where it reads
// an index.
#pragma once

#include <cstdint>

#include "session/VdbAccessor.h"

namespace vdb {

class IVdbAccessPath {
 public:
  virtual ~IVdbAccessPath() = default;
  // Raw moves in the forward sense of the order, ignoring the filter: true when a record was
  // reached (the accessor is then on it).
  virtual bool First(TVdbAccessor& a) const = 0;
  virtual bool Last(TVdbAccessor& a) const = 0;
  virtual bool Step(TVdbAccessor& a, bool forward) const = 0;
  // Moves to the `sequenceNo`-th record of the order under the range: its record number, or
  // -11 when there is none.
  virtual std::int32_t GotoSequenceNo(TVdbAccessor& a, std::int32_t sequenceNo) const = 0;
  // Whether the current record (a positive record number) belongs to the order and range.
  virtual bool HoldsCurrent(TVdbAccessor& a) const = 0;
  // Forward sequence of the current record under the range; -2 when it has none.
  virtual std::int32_t ForwardSequenceNo(TVdbAccessor& a) const = 0;
  // Records of the order under the range, filter not counted.
  virtual std::int32_t Count(TVdbAccessor& a) const = 0;
  // The current record `deleted` was deleted (`moved`, if > 0, takes its number): goes to the
  // record that follows it in the order, else the last one, else BoT.
  virtual void AfterCurrentDeleted(TVdbAccessor& a, std::int32_t deleted, std::int32_t moved) const = 0;
};

// The path of an access type (tatNone: a path without records).
const IVdbAccessPath& VdbAccessPathOf(TVdbAccessType type) noexcept;

}  // namespace vdb
