find_package(ZLIB REQUIRED)
cellverter_add_test(batch_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/batch_run_test.cpp
  LIBS cellverter_batch ZLIB::ZLIB
)
