// The VidoraSQL scanner and parser under fuzzing: an input is a statement text in UTF-8.
// Every statement that parses must render to a text that parses back into an equal tree, and
// the condition and expression rules must stand the same text; a parser error is an expected
// outcome, anything else (another exception, a sanitizer report, a broken round trip) aborts.
#pragma once

#include <cstdint>
#include <span>

namespace vdb::fuzz {

void RunSqlInput(std::span<const std::uint8_t> input);

}  // namespace vdb::fuzz
