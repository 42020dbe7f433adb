# The desktop program `cellverter`: the main window (Qt 6 Widgets) over the Qt-free layers.

# The window's rules, Qt-free, so that tests reach them without widgets.
cellverter_add_library(cellverter_window_rules SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/main_window_rules.cpp
)
