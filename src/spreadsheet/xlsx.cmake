find_package(ZLIB REQUIRED)

cellverter_add_library(cellverter_xlsx SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx_reader.cpp
  DEPS cellverter_platform cellverter_numfmt ZLIB::ZLIB
)
