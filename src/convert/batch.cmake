# The batch run: one workbook after the other (the window) or several at once (the
# command-line tool), with the same output names.
find_package(Threads REQUIRED)
cellverter_add_library(cellverter_batch SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/batch_run.cpp
  DEPS cellverter_workbook_csv cellverter_convert cellverter_platform Threads::Threads
)
