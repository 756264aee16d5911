// libFuzzer target: VidoraSQL statement texts (see FuzzSql.h).
#include "FuzzSql.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vdb::fuzz::RunSqlInput(std::span<const std::uint8_t>(data, size));
  return 0;
}
