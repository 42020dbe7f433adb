if(CELLVERTER_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  cellverter_add_test(update_window_tests QT SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/window_support.h
    ${CMAKE_CURRENT_SOURCE_DIR}/new_version_window_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/update_ui_test.cpp
    LIBS cellverter_update_window cellverter_maker_server Qt6::Test
  )
  set_target_properties(update_window_tests PROPERTIES AUTOMOC ON)
  target_include_directories(update_window_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
