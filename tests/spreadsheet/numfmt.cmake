cellverter_add_test(number_format_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/number_format_test.cpp
  LIBS cellverter_numfmt
)

# The fuzz target replays its seed corpus as an ordinary test.
add_executable(fuzz_numfmt_replay ${PROJECT_SOURCE_DIR}/bench/fuzz_numfmt.cpp)
target_link_libraries(fuzz_numfmt_replay PRIVATE cellverter_options cellverter_numfmt)
add_test(NAME numfmt_fuzz_corpus
         COMMAND fuzz_numfmt_replay ${PROJECT_SOURCE_DIR}/bench/fuzz/numfmt-corpus)
