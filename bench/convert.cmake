# The whole conversion of one workbook to CSV: libFuzzer target (CELLVERTER_FUZZ, clang). Its
# seed corpus also runs as an ordinary test (tests/convert/workbook.cmake). Coverage comes
# from every layer; the readers and number formats are instrumented by their own parts.
if(CELLVERTER_FUZZ)
  add_executable(fuzz_convert ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_convert.cpp)
  target_compile_definitions(fuzz_convert PRIVATE CELLVERTER_LIBFUZZER)
  target_compile_options(fuzz_convert PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_convert PRIVATE -fsanitize=fuzzer)
  target_include_directories(fuzz_convert PRIVATE ${PROJECT_SOURCE_DIR}/tests/spreadsheet)
  target_link_libraries(fuzz_convert PRIVATE cellverter_options cellverter_workbook_csv)
  foreach(library cellverter_workbook_csv cellverter_convert cellverter_spreadsheet)
    target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
endif()
