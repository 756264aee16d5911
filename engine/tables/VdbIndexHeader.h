// Reading the definition an index file stores before its key layout is known. A table that
// opens an index only by name (the names in its data file) learns the index's definition from
// the file's header; the index file class itself needs the layout before it opens the file.
// Reading the page is this unit's; decoding it is the index file's own.
//
// Threads: the thread that owns the table.
#pragma once

#include "storage/VdbIndexFile.h"
#include "storage/VdbPageMan.h"

namespace vdb {

// The definition stored in the index file that `storage` (not open) names. Raises 37 when the
// file is missing or may not be opened, 28 naming `indexName` when the header cannot be read.
TVdbIndexDefinition VdbReadIndexFileDefinition(const TVdbClientStorage& storage, std::u16string_view indexName);

}  // namespace vdb
