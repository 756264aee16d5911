# Fails the build when a source file includes across a layer boundary.
# Each rule: folder, then the include prefixes it must never use; "Qt" stands for any Qt header.
cmake_policy(VERSION 3.20)
set(rules
  "engine|Qt|../|toolkit/|db/|widgets/|dataset/|report/|app/"
  # Inside the engine, floor by floor from the ground: no include names a floor above.
  "engine/base|types/|storage/|tables/|locking/|session/|expr/|sql/|api/|vidoradb/"
  "engine/types|storage/|tables/|locking/|session/|expr/|sql/|api/|vidoradb/"
  "engine/storage|tables/|locking/|session/|expr/|sql/|api/|vidoradb/"
  "engine/tables|locking/|session/|expr/|sql/|api/|vidoradb/"
  "engine/locking|session/|expr/|sql/|api/|vidoradb/"
  "engine/session|expr/|sql/|api/|vidoradb/"
  "engine/expr|sql/|api/|vidoradb/"
  "engine/sql|api/|vidoradb/"
  "toolkit/db|Qt|../|engine/|widgets/|dataset/|report/|app/|types/|storage/|tables/|locking/|session/|expr/|sql/|api/|vidoradb/"
  "dataset|Qt|../|engine/|api/|types/|storage/|widgets/|report/|app/"
  "toolkit/widgets|../|engine/|dataset/|report/|app/"
  "report|../|engine/|dataset/|widgets/|app/"
  # The shell is an outside program of the engine: its public header only.
  "tools/vdbsql|Qt|../|engine/|base/|types/|storage/|tables/|locking/|session/|expr/|sql/|api/|toolkit/|db/|widgets/|dataset/|report/|app/"
)
set(failures "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(POP_FRONT parts folder)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(f IN LISTS files)
    file(STRINGS "${f}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" inc "${line}")
      foreach(bad IN LISTS parts)
        if(bad STREQUAL "Qt")
          if(inc MATCHES "^Q[A-Za-z0-9]*($|/|\\.h$)")
            list(APPEND failures "${f}: ${inc} (no Qt in this layer)")
          endif()
        else()
          string(FIND "${inc}" "${bad}" pos)
          if(pos EQUAL 0)
            list(APPEND failures "${f}: ${inc}")
          endif()
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(failures)
  string(REPLACE ";" "\n  " msg "${failures}")
  message(FATAL_ERROR "Forbidden includes across layers:\n  ${msg}")
endif()
