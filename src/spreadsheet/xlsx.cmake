find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# Zip container, XML scanner and the Office Open XML reader.
cellverter_add_library(cellverter_xlsx SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/zip_archive.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xml_scanner.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sheet_spool.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/prefetch_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx_reader.cpp
  DEPS cellverter_platform ZLIB::ZLIB Threads::Threads
)
