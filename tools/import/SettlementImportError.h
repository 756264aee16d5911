// The one error of the settlement import: a complete message for the user, and the line and
// column it is about (0 and empty when it concerns the whole file or the target directory).
#pragma once

#include <stdexcept>
#include <string>

namespace vidora::tools {

class ESettlementImport : public std::runtime_error {
 public:
  explicit ESettlementImport(const std::string& message, int line = 0, std::string column = {})
      : std::runtime_error(Compose(message, line, column)), FLine(line), FColumn(std::move(column)) {}

  int Line() const noexcept { return FLine; }
  const std::string& Column() const noexcept { return FColumn; }

 private:
  static std::string Compose(const std::string& message, int line, const std::string& column) {
    std::string where;
    if (line > 0) where = "line " + std::to_string(line);
    if (!column.empty()) where += (where.empty() ? "" : ", ") + std::string("column ") + column;
    return where.empty() ? message : where + ": " + message;
  }

  int FLine;
  std::string FColumn;
};

}  // namespace vidora::tools
