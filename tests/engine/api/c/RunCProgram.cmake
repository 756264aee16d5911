# Installs the call interface into a prefix inside the build tree, compiles the C program
# against the installed header and library (flags from the installed pkg-config file), writes
# the settlement database and runs the program on it.
# Inputs: BUILD_DIR, WORK_DIR, SOURCE, C_COMPILER, DB_WRITER, SANITIZE_FLAGS (may be empty).
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nfailed (${rc}):\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/private)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component libvidoradb2)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component libvidoradb-dev)

file(GLOB_RECURSE pc_files ${prefix}/*/vidoradb.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "vidoradb.pc not installed under ${prefix}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs vidoradb RESULT_VARIABLE rc OUTPUT_VARIABLE flags
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know vidoradb")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(sanitize UNIX_COMMAND "${SANITIZE_FLAGS}")
get_filename_component(libdir ${pc_dir} DIRECTORY)

run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror -pedantic ${sanitize} ${SOURCE} ${flags} -Wl,-rpath,${libdir}
    -o ${WORK_DIR}/vdbapi_road)
run(${DB_WRITER} ${WORK_DIR}/db)
run(${WORK_DIR}/vdbapi_road ${WORK_DIR}/db ${WORK_DIR}/private)
