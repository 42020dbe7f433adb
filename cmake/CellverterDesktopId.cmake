# CELLVERTER_DESKTOP_ID: the id of the desktop entry, the icon and the AppStream metadata,
# and the desktop file name the program announces (so that a Wayland desktop matches its
# windows to the menu entry). It is the maker's host reversed, ending in the product name,
# in lower case as the freedesktop and AppStream rules want it: cellverter.example.net ->
# net.example.cellverter; korvane.com or www.korvane.com -> com.korvane.cellverter. Labels
# that D-Bus names cannot carry are mended: "-" becomes "_", a leading digit gets a "_".
set(CELLVERTER_APP_ID "" CACHE STRING
    "Desktop and AppStream id; empty: derived from CELLVERTER_MAKER_HOST")
if(CELLVERTER_APP_ID STREQUAL "")
  string(TOLOWER "${CELLVERTER_MAKER_HOST}" host)
  string(REGEX REPLACE "^www\\." "" host "${host}")
  string(REPLACE "." ";" labels "${host}")
  list(REVERSE labels)
  set(app_id "")
  foreach(label IN LISTS labels)
    string(REPLACE "-" "_" label "${label}")
    if(label MATCHES "^[0-9]")
      set(label "_${label}")
    endif()
    list(APPEND app_id "${label}")
  endforeach()
  list(GET app_id -1 last)
  if(NOT last STREQUAL "cellverter")
    list(APPEND app_id "cellverter")
  endif()
  list(JOIN app_id "." app_id)
else()
  set(app_id "${CELLVERTER_APP_ID}")
endif()
set(CELLVERTER_DESKTOP_ID "${app_id}")

