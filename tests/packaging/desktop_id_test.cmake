# The desktop id derived from the maker's host (cmake/CellverterDesktopId.cmake), case by case:
# cmake -DMODULE=<path of CellverterDesktopId.cmake> -P desktop_id_test.cmake
set(cases
  "cellverter.example.net=net.example.cellverter"
  "korvane.com=com.korvane.cellverter"
  "www.korvane.com=com.korvane.cellverter"
  "WWW.Korvane.COM=com.korvane.cellverter"
  "3d-soft.co.uk=uk.co._3d_soft.cellverter"
  "downloads.korvane.com=com.korvane.downloads.cellverter"
  "localhost=localhost.cellverter")
set(failures "")
foreach(case IN LISTS cases)
  string(REPLACE "=" ";" parts "${case}")
  list(GET parts 0 CELLVERTER_MAKER_HOST)
  list(GET parts 1 expected)
  unset(CELLVERTER_APP_ID CACHE)
  set(CELLVERTER_APP_ID "")
  include(${MODULE})
  if(NOT CELLVERTER_DESKTOP_ID STREQUAL expected)
    string(APPEND failures "\n  ${CELLVERTER_MAKER_HOST}: ${CELLVERTER_DESKTOP_ID}, expected ${expected}")
  endif()
endforeach()
# A given id is taken as it stands.
set(CELLVERTER_APP_ID "org.example.Other")
include(${MODULE})
if(NOT CELLVERTER_DESKTOP_ID STREQUAL "org.example.Other")
  string(APPEND failures "\n  CELLVERTER_APP_ID ignored: ${CELLVERTER_DESKTOP_ID}")
endif()
if(failures)
  message(FATAL_ERROR "Desktop ids:${failures}")
endif()
