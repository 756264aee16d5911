// libFuzzer target: damaged copies of one file of a table (see FuzzTable.h).
#include <cstdlib>

#include "FuzzTable.h"

// VDB_FUZZ_SEED names a file to receive the undamaged file, the corpus's first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vdb::fuzz::WriteSeed(vdb::fuzz::TFuzzFile::ffIndex, std::getenv("VDB_FUZZ_SEED"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vdb::fuzz::RunTableInput(vdb::fuzz::TFuzzFile::ffIndex, std::span<const std::uint8_t>(data, size));
  return 0;
}
