# Build helpers shared by every subsystem.

# Strict warnings for our own code (third-party code never gets them).
function(velmora_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-qual
    -Wformat=2 -Wimplicit-fallthrough -Wmissing-declarations)
endfunction()

# velmora_library(<name> SOURCES ... [LIBS ...] [SHARED])
# A static library of one subsystem folder; its folder is the include root of
# its headers, included as "<subsystem>/<unit>.h" from src/.
function(velmora_library name)
  cmake_parse_arguments(ARG "SHARED" "" "SOURCES;LIBS" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
  else()
    add_library(${name} STATIC ${ARG_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  velmora_warnings(${name})
endfunction()

# velmora_program(<name> SOURCES ... [LIBS ...] [OUTPUT_NAME <file name>])
function(velmora_program name)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(ARG_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  velmora_warnings(${name})
endfunction()

# velmora_test(<name> LABEL <label> SOURCES ... [LIBS ...] [WHOLE]
#              [ENVIRONMENT ...] [TIMEOUT <s>] [RUN_SERIAL])
# A GoogleTest program. Each test case becomes one ctest test, labelled with
# the subsystem; WHOLE registers the program as a single ctest test instead
# (for suites that share an expensive fixture such as a private X server).
function(velmora_test name)
  if(NOT VELMORA_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "WHOLE;RUN_SERIAL" "LABEL;TIMEOUT"
                        "SOURCES;LIBS;ENVIRONMENT;DEPENDS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock
                        GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  velmora_warnings(${name})
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  set(props LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT})
  if(ARG_ENVIRONMENT)
    list(APPEND props ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(ARG_RUN_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(ARG_WHOLE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${props})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  endif()
endfunction()

# velmora_bench(<name> SOURCES ... [LIBS ...])
# A benchmark program in bench/; never part of the test suite.
function(velmora_bench name)
  if(NOT VELMORA_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests
                             ${CMAKE_SOURCE_DIR}/bench)
  velmora_warnings(${name})
endfunction()

# velmora_fuzz(<name> SOURCES ... [LIBS ...])
# A libFuzzer target, built only with -DVELMORA_FUZZ=ON and clang; run by
# tools/fuzz, never by the test suite.
function(velmora_fuzz name)
  if(NOT VELMORA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endfunction()
