# The whole conversion of one workbook to CSV: libFuzzer target (CELLVERTER_FUZZ, clang). Its
# seed corpus also runs as an ordinary test (tests/convert/workbook.cmake). Coverage comes
# from every layer; the readers and number formats are instrumented by their own parts.
if(CELLVERTER_FUZZ)
  cellverter_add_fuzzer(fuzz_convert LIBS cellverter_workbook_csv
                        INSTRUMENT cellverter_workbook_csv cellverter_convert cellverter_spreadsheet)
  target_include_directories(fuzz_convert PRIVATE ${PROJECT_SOURCE_DIR}/tests/spreadsheet)
endif()
