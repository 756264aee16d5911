// Replays fuzz inputs with the normal build, as a test: fuzz_replay <target> <corpus dir>.
// Runs the undamaged file, a fixed set of damaged copies of it (every other byte of the first
// 512 flipped, the file cut at 64 places) and every file of the corpus directory (missing or
// empty: none). A crash, a sanitizer report or a walk that does not end fails the run.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzTable.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_replay data_file|index|memo|redo_log <corpus dir>\n");
    return 2;
  }
  const auto which = vdb::fuzz::FuzzFileByName(argv[1]);
  if (!which) {
    std::fprintf(stderr, "unknown target %s\n", argv[1]);
    return 2;
  }
  const std::vector<std::uint8_t>& seed = vdb::fuzz::SeedOf(*which);
  int inputs = 0;
  const auto run = [&](const std::vector<std::uint8_t>& input) {
    vdb::fuzz::RunTableInput(*which, input);
    ++inputs;
  };
  run(seed);
  for (std::size_t i = 0; i < std::min<std::size_t>(512, seed.size()); i += 2) {
    std::vector<std::uint8_t> input = seed;
    input[i] ^= 0xFF;
    run(input);
  }
  const std::size_t cutStep = std::max<std::size_t>(64, seed.size() / 64);
  for (std::size_t n = 0; n < seed.size(); n += cutStep) run(std::vector<std::uint8_t>(seed.begin(), seed.begin() + n));
  const std::filesystem::path dir = argv[2];
  if (std::filesystem::is_directory(dir)) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      run(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
  }
  std::printf("%s: %d inputs replayed\n", argv[1], inputs);
  return 0;
}
