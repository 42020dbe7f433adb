# The desktop program `cellverter`: the main window (Qt 6 Widgets) over the Qt-free layers.

# The window's rules, Qt-free, so that tests reach them without widgets.
cellverter_add_library(cellverter_window_rules SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/main_window_rules.cpp
  DEPS cellverter_batch
)

if(CELLVERTER_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)

  # The main window as a library, so that the window tests drive the same code.
  cellverter_add_library(cellverter_main_window SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/conversion_options_form.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/conversion_options_form.h
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window.h
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window_dialogs.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window_dialogs.h
    ${CMAKE_CURRENT_SOURCE_DIR}/resources.qrc
    DEPS cellverter_window_rules cellverter_batch cellverter_appcore cellverter_i18n
         cellverter_sources cellverter_convert cellverter_platform cellverter_update_window
         cellverter_feedback cellverter_about Qt6::Widgets
  )
  set_target_properties(cellverter_main_window PROPERTIES AUTOMOC ON AUTORCC ON)
  target_compile_definitions(cellverter_main_window PRIVATE
    CELLVERTER_MAKER_HOST="${CELLVERTER_MAKER_HOST}")

  add_executable(cellverter ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_link_libraries(cellverter PRIVATE cellverter_options cellverter_main_window)
  target_compile_definitions(cellverter PRIVATE CELLVERTER_DESKTOP_ID="${CELLVERTER_DESKTOP_ID}")
  cellverter_embed_version(cellverter)
  # The data files the program expects beside it.
  add_dependencies(cellverter cellverter_languages cellverter_license)
endif()
