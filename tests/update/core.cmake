cellverter_add_test(update_core_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/installation_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/update_store_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/update_check_test.cpp
  LIBS cellverter_update cellverter_maker_server
)
target_include_directories(update_core_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
