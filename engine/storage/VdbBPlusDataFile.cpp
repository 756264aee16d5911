// The B+ data file stand-in; see VdbBPlusDataFile.h.
#include "storage/VdbBPlusDataFile.h"

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"

namespace vdb {

void TVdbBPlusDataFile::Refuse() { RaiseEngineError(errNotSupported, {u"B+ data files"}); }

void TVdbBPlusDataFile::Open(bool, bool, TvuCryptor&, TVdbTableDefinition&) { Refuse(); }

void TVdbBPlusDataFile::NewFile(int, TvuCryptor&, const TVdbTableDefinition&, bool) { Refuse(); }

}  // namespace vdb
