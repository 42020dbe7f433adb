# The desktop program `cellverter`: the main window (Qt 6 Widgets) over the Qt-free layers.

# The window's rules, Qt-free, so that tests reach them without widgets.
cellverter_add_library(cellverter_window_rules SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/main_window_rules.cpp
  DEPS cellverter_batch
)

if(CELLVERTER_GUI AND TARGET cellverter_batch AND TARGET cellverter_appcore
   AND TARGET cellverter_i18n AND TARGET cellverter_sources)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)

  # The main window as a library, so that the window tests drive the same code.
  cellverter_add_library(cellverter_main_window SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window.h
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window_dialogs.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/main_window_dialogs.h
    ${CMAKE_CURRENT_SOURCE_DIR}/resources.qrc
    DEPS cellverter_window_rules cellverter_batch cellverter_appcore cellverter_i18n
         cellverter_sources cellverter_convert cellverter_platform Qt6::Widgets
  )
  set_target_properties(cellverter_main_window PROPERTIES AUTOMOC ON AUTORCC ON)
  target_compile_definitions(cellverter_main_window PRIVATE
    CELLVERTER_MAKER_HOST="${CELLVERTER_MAKER_HOST}")

  add_executable(cellverter ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_link_libraries(cellverter PRIVATE cellverter_options cellverter_main_window)
  target_compile_definitions(cellverter PRIVATE CELLVERTER_DESKTOP_ID="${CELLVERTER_DESKTOP_ID}")
  if(COMMAND cellverter_embed_version)
    cellverter_embed_version(cellverter)
  endif()

  # The windows of later folders (feedback, about) are defined after this one; link them
  # once the whole tree is read.
  function(cellverter_link_optional_windows)
    foreach(pair "cellverter_update_window;CELLVERTER_HAVE_UPDATE_UI"
                 "cellverter_feedback;CELLVERTER_HAVE_FEEDBACK"
                 "cellverter_about;CELLVERTER_HAVE_ABOUT")
      list(GET pair 0 library)
      list(GET pair 1 definition)
      if(TARGET ${library})
        target_link_libraries(cellverter_main_window PUBLIC ${library})
        target_compile_definitions(cellverter_main_window PUBLIC ${definition})
      endif()
    endforeach()
    # The data files the program expects beside it.
    foreach(data cellverter_languages cellverter_license)
      if(TARGET ${data})
        add_dependencies(cellverter ${data})
      endif()
    endforeach()
  endfunction()
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL cellverter_link_optional_windows)
endif()

# For the documentation: draws the main window into PNG files (scripts/screenshots.sh).
if(TARGET cellverter_main_window)
  add_executable(cellverter-window-screenshot ${CMAKE_CURRENT_SOURCE_DIR}/main_window_screenshot.cpp)
  target_link_libraries(cellverter-window-screenshot PRIVATE cellverter_options cellverter_main_window)
  # The workbooks of the running window are written by the tests' small workbook writer.
  target_include_directories(cellverter-window-screenshot PRIVATE ${PROJECT_SOURCE_DIR}/tests/app)
endif()
