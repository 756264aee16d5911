// The seed of a randomised test: VIDORA_SEED when it is set, so that a run replays exactly,
// otherwise a fresh one. It is printed either way; callers also put it into their failure
// messages (SCOPED_TRACE).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

namespace vidora_test {

inline std::uint32_t Seed(const std::string& name) {
  std::uint32_t seed = 0;
  if (const char* text = std::getenv("VIDORA_SEED"); text != nullptr && *text != 0) {
    seed = static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
  } else {
    seed = std::random_device{}();
  }
  std::cout << "[ seed     ] " << name << ": VIDORA_SEED=" << seed << std::endl;
  return seed;
}

}  // namespace vidora_test
