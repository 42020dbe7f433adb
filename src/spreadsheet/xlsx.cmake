find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# Zip container, XML scanner and the Office Open XML reader.
cellverter_add_library(cellverter_xlsx SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/container/zip_archive.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/xml_scanner.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/xml_values.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/sheet_spool.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/container/prefetch_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/xlsx_reader.cpp
  DEPS cellverter_platform ZLIB::ZLIB Threads::Threads
)
