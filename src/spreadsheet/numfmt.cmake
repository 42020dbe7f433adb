cellverter_add_library(cellverter_numfmt SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/number_format.cpp
)
