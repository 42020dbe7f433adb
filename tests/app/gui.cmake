# Tests of the desktop program: its Qt-free rules, and the real main window on the
# offscreen platform.
cellverter_add_test(app_window_rules_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/main_window_rules_test.cpp
  LIBS cellverter_window_rules
)

if(CELLVERTER_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  # tiny_xlsx.h packs its workbooks with the tests' zip writer (zlib's CRC-32).
  find_package(ZLIB REQUIRED)
  cellverter_add_test(app_window_tests SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window_dialogs_test.cpp
    LIBS cellverter_main_window Qt6::Test ZLIB::ZLIB
    QT
  )
  target_compile_definitions(app_window_tests PRIVATE
    CELLVERTER_TEST_MAKER_HOST="${CELLVERTER_MAKER_HOST}")
  # The logical workbooks of tests/spreadsheet (several sheets of every kind).
  target_include_directories(app_window_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/spreadsheet)
  # The tests run a copy of the built program.
  add_dependencies(app_window_tests cellverter)

  cellverter_add_test(app_program_tests SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/program_test.cpp
    LIBS cellverter_update ZLIB::ZLIB
  )
  add_dependencies(app_program_tests cellverter)
endif()
