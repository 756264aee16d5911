// A bound for test loops that walk a table, cursor or index until its end. A cursor that
// stops moving would keep such a loop going until the test time-out, repeating its failure
// messages; bounded by the expected number of stops plus one, the walk ends at once and
// fails with one message.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace testsupport {

class TWalkBound {
 public:
  TWalkBound(std::size_t expected, std::string what) : FLimit(expected + 1), FWhat(std::move(what)) {}

  // Counts one stop; false (after one failure) when the walk has gone past the bound.
  bool Step() {
    if (FSteps < FLimit) {
      ++FSteps;
      return true;
    }
    ADD_FAILURE() << FWhat << " did not end after " << FLimit
                  << " stops: the cursor stopped moving or runs past the end";
    return false;
  }

 private:
  std::size_t FLimit;
  std::size_t FSteps = 0;
  std::string FWhat;
};

}  // namespace testsupport
