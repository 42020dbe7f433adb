# Tests of the desktop program: its Qt-free rules, and the real main window on the
# offscreen platform.
cellverter_add_test(app_window_rules_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/main_window_rules_test.cpp
  LIBS cellverter_window_rules
)
