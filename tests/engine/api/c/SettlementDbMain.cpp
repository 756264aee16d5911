// Writes the settlement database into the directory given, for the C program's test.
#include <iostream>

#include "../VdbApiSettlementDb.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <directory>\n";
    return 2;
  }
  const std::string failure = vdb::test::WriteSettlementDatabase(argv[1]);
  if (!failure.empty()) {
    std::cerr << failure << "\n";
    return 1;
  }
  return 0;
}
