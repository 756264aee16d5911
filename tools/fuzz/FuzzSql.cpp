#include "FuzzSql.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "sql/VdbSqlCommand.h"
#include "sql/VdbSqlParser.h"

namespace vdb::fuzz {

namespace {

[[noreturn]] void Fail(const char* what, const std::u16string& text) {
  std::fprintf(stderr, "%s: %s\n", what, VdbUtf16ToUtf8(text).c_str());
  std::abort();
}

void RoundTrip(const std::u16string& text) {
  std::vector<std::unique_ptr<TVdbSqlCommand>> first;
  try {
    first = VdbParseSqlStatements(text);
  } catch (const ESqlParser&) {
    return;
  }
  for (const auto& c : first) {
    const std::u16string rendered = c->GetSqlText();
    std::vector<std::unique_ptr<TVdbSqlCommand>> again;
    try {
      again = VdbParseSqlStatements(rendered);
    } catch (const ESqlParser&) {
      Fail("rendered statement does not parse", rendered);
    }
    if (again.size() != 1 || !c->IsSyntacticallyEqual(*again[0])) Fail("rendered statement differs", rendered);
    if (!c->CreateCopy()->IsSyntacticallyEqual(*c)) Fail("copy differs", rendered);
  }
}

void Condition(const std::u16string& text) {
  TSqlParser p;
  p.SetStatementText(text);
  try {
    p.InitParsing();
    auto c = p.ParseCondition();
    p.ParseEnd();
    TSqlParser again;
    again.SetStatementText(c->SqlText());
    again.InitParsing();
    auto d = again.ParseCondition();
    again.ParseEnd();
    if (!c->IsSyntacticallyEqual(*d)) Fail("rendered condition differs", c->SqlText());
  } catch (const ESqlParser&) {
  }
}

}  // namespace

void RunSqlInput(std::span<const std::uint8_t> input) {
  const std::u16string text =
      VdbUtf8ToUtf16(std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
  RoundTrip(text);
  Condition(text);
}

}  // namespace vdb::fuzz
