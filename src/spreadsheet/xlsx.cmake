find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# Zip container, XML scanner and the Office Open XML reader.
cellverter_add_library(cellverter_xlsx SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/container/zip_archive.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/xml_scanner.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/xml_values.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/plain_rows.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/sheet_spool.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/row_spool.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/package_relationships.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/package_globals.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/container/prefetch_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx/xlsx_reader.cpp
  DEPS cellverter_platform ZLIB::ZLIB Threads::Threads
)

# ISA-L's inflate and CRC when the library is there (Debian: libisal-dev); zlib otherwise, and
# always for what ISA-L refuses.
option(CELLVERTER_ISAL "Inflate zip parts with ISA-L when it is installed" ON)
find_path(CELLVERTER_ISAL_INCLUDE isa-l/igzip_lib.h)
find_library(CELLVERTER_ISAL_LIBRARY isal)
if(CELLVERTER_ISAL AND CELLVERTER_ISAL_INCLUDE AND CELLVERTER_ISAL_LIBRARY)
  target_include_directories(cellverter_xlsx PRIVATE ${CELLVERTER_ISAL_INCLUDE})
  target_link_libraries(cellverter_xlsx PRIVATE ${CELLVERTER_ISAL_LIBRARY})
  target_compile_definitions(cellverter_xlsx PRIVATE CELLVERTER_HAVE_ISAL=1)
else()
  message(STATUS "ISA-L not found: zip parts are inflated with zlib alone")
endif()
