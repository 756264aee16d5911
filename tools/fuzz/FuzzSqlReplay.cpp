// Replays the VidoraSQL fuzz corpus with the normal build, as a test: fuzz_sql_replay <corpus
// dir>. Each file is run whole and cut at every eighth byte, so truncated statements are
// replayed too. A crash, a sanitizer report or a broken round trip fails the run.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "FuzzSql.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_sql_replay <corpus dir>\n");
    return 2;
  }
  int inputs = 0;
  const std::filesystem::path dir = argv[1];
  if (!std::filesystem::is_directory(dir)) {
    std::fprintf(stderr, "no corpus at %s\n", argv[1]);
    return 1;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (std::size_t n = 0; n < input.size(); n += 8) {
      vdb::fuzz::RunSqlInput(std::span<const std::uint8_t>(input.data(), n));
      ++inputs;
    }
    vdb::fuzz::RunSqlInput(input);
    ++inputs;
  }
  std::printf("sql: %d inputs replayed\n", inputs);
  return inputs > 0 ? 0 : 1;
}
