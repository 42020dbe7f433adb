if(CELLVERTER_GUI)
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
