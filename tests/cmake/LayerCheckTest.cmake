# The include check itself: each case plants a small source tree with one include and runs the
# check on it; a climbing include must fail the check and be named, a permitted one must pass.
# Run as: cmake -DCHECK=<LayerCheck.cmake> -DWORK_DIR=<scratch folder> -P LayerCheckTest.cmake
cmake_policy(VERSION 3.20)
# Each case: expected result (pass/fail), the planted file, the include it makes.
set(cases
  "pass|engine/storage/Planted.cpp|types/VdbData.h"
  "pass|engine/sql/Planted.cpp|expr/VdbExpression.h"
  "pass|engine/api/Planted.cpp|sql/VdbCondition.h"
  "pass|dataset/Planted.cpp|db/TDataSet.h"
  "fail|engine/types/Planted.cpp|storage/VdbPageMan.h"
  "fail|engine/base/Planted.h|types/VdbData.h"
  "fail|engine/tables/Planted.cpp|session/VdbCursor.h"
  "fail|engine/expr/Planted.cpp|sql/VdbSqlParser.h"
  "fail|engine/session/Planted.cpp|expr/VdbExpression.h"
  "fail|engine/sql/Planted.cpp|api/VdbApiHandles.h"
  "fail|engine/storage/Planted.cpp|QtCore"
  "fail|dataset/Planted.cpp|engine/base/VdbErrors.h"
  # The framework fills its messages with the engine's formatter, the ground floor only.
  "pass|toolkit/db/Planted.cpp|base/VdbFormat.h"
  "fail|toolkit/db/Planted.cpp|types/VdbData.h"
)
set(failures "")
set(n 0)
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" parts "${c}")
  list(GET parts 0 expected)
  list(GET parts 1 file)
  list(GET parts 2 include)
  math(EXPR n "${n} + 1")
  set(tree "${WORK_DIR}/case${n}")
  file(REMOVE_RECURSE "${tree}")
  # A clean neighbour in every tree, so a pass is not a pass of an empty tree.
  file(WRITE "${tree}/engine/base/Clean.h" "#pragma once\n#include <cstdint>\n")
  file(WRITE "${tree}/${file}" "// planted\n#include \"${include}\"\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" -DSOURCE_DIR=${tree} -P "${CHECK}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expected STREQUAL "pass" AND NOT rc EQUAL 0)
    list(APPEND failures "${file} including ${include} was refused:\n${err}")
  elseif(expected STREQUAL "fail")
    if(rc EQUAL 0)
      list(APPEND failures "${file} including ${include} passed the check")
    elseif(NOT err MATCHES "${file}: ${include}")
      list(APPEND failures "${file} including ${include} failed without naming it:\n${err}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
if(failures)
  string(REPLACE ";" "\n" msg "${failures}")
  message(FATAL_ERROR "${msg}")
endif()
message(STATUS "${n} planted trees checked")
