// Helpers shared by the accessor's units: the read lock held for one walk and the unwinding of
// a failed table status. Internal to engine/session.
#pragma once

#include <cstdint>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "tables/VdbRelation.h"

namespace vdb::accessor {

// A wait for the table's read lock held for one walk. A refused lock was recorded by the
// table; the walk then ends through the internal unwinding exception, which keeps that error.
class TReadLock {
 public:
  explicit TReadLock(TVdbRelation& relation) : FRelation(relation) {
    if (FRelation.BeginRead(true) < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
  }
  // EndRead records its own failure at the table boundary.
  ~TReadLock() { static_cast<void>(FRelation.EndRead()); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

 private:
  TVdbRelation& FRelation;
};

// A status of a table operation that failed was recorded there.
inline void Check(std::int32_t status) {
  if (status < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
}

constexpr std::int32_t kCountWalkLimit = 10000;
constexpr std::int16_t kNoRecord = -errRecordNotFound;

}  // namespace vdb::accessor
