if(CELLVERTER_GUI AND TARGET cellverter_i18n)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  cellverter_add_library(cellverter_update_window SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/new_version_window.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/new_version_window.h
    ${CMAKE_CURRENT_SOURCE_DIR}/update_ui.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/update_ui.h
    DEPS cellverter_update cellverter_i18n Qt6::Widgets
  )
  set_target_properties(cellverter_update_window PROPERTIES AUTOMOC ON)
endif()

# For the documentation: draws the notice into a PNG file (docs/notice.png).
if(TARGET cellverter_update_window)
  add_executable(cellverter-notice-screenshot ${CMAKE_CURRENT_SOURCE_DIR}/notice_screenshot.cpp)
  target_link_libraries(cellverter-notice-screenshot PRIVATE cellverter_options
                        cellverter_update_window)
endif()
