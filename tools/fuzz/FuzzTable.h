// Fuzzing the table files: a small table (record ids, names, unique codes and notes, two
// indexes) is made once in memory; each input replaces one of its files (the data file, an
// index file, the note file, or the redo log a crashed transaction left), and the table is
// opened, every order walked forwards and backwards, every record and note read and the
// table checked. Any outcome is fine except a crash, a sanitizer report, or a walk that does
// not end (which aborts).
//
// Threads: one input at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vdb::fuzz {

enum class TFuzzFile { ffData, ffIndex, ffMemo, ffRedoLog };

std::optional<TFuzzFile> FuzzFileByName(std::string_view name);
// The undamaged file, the first seed of every corpus.
const std::vector<std::uint8_t>& SeedOf(TFuzzFile which);
// Writes SeedOf(which) to the file `path` (nothing when null or empty).
void WriteSeed(TFuzzFile which, const char* path);
// Runs one input.
void RunTableInput(TFuzzFile which, std::span<const std::uint8_t> input);

}  // namespace vdb::fuzz
