# Compiler settings shared by every target of the project.
add_library(cellverter_options INTERFACE)
target_compile_options(cellverter_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                       -Wnon-virtual-dtor -Wimplicit-fallthrough)
if(CELLVERTER_WERROR)
  target_compile_options(cellverter_options INTERFACE -Werror)
endif()
if(CELLVERTER_SANITIZE)
  target_compile_options(cellverter_options INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(cellverter_options INTERFACE -fsanitize=address,undefined)
endif()

# cellverter_add_library(NAME SOURCES... [DEPS targets...])
# One static library per layer folder; include paths are relative to src/.
function(cellverter_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC cellverter_options ${ARG_DEPS})
endfunction()

# cellverter_add_test(NAME SOURCES... [LIBS targets...] [QT])
# A GoogleTest executable whose cases CTest lists one by one, linked with the tests' shared
# helpers (tests/support). QT marks a test that drives Qt widgets: it gets the Qt application
# helper, runs on the offscreen platform, and leak reports are off because Qt's platform
# plugins keep process-lifetime allocations.
function(cellverter_add_test name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE cellverter_options ${ARG_LIBS} cellverter_test_support
                        GTest::gtest GTest::gtest_main)
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE cellverter_qt_test_support)
  endif()
  target_compile_definitions(${name} PRIVATE
    CELLVERTER_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    CELLVERTER_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  set(env "LC_ALL=C.UTF-8")
  if(ARG_QT)
    list(APPEND env "QT_QPA_PLATFORM=offscreen" "ASAN_OPTIONS=detect_leaks=0")
  endif()
  # A list-valued ENVIRONMENT property loses all but its first item on its way through
  # gtest_discover_tests, so every run of the executable goes through `cmake -E env`.
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${env})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
