# Programs that the version-reader tests read as files: one with a German record that also
# holds PrivateBuild and SpecialBuild, one without any record.
foreach(probe version_probe_german version_probe_plain)
  add_executable(${probe} ${CMAKE_CURRENT_SOURCE_DIR}/version_probe.cpp)
  set_target_properties(${probe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endforeach()
cellverter_embed_version(version_probe_german TRANSLATION 040704b0
  SET FileDescription "Excel-zu-CSV-Konverter"
      PrivateBuild "Testbau"
      SpecialBuild "Sonderausgabe für Tests")

cellverter_add_test(app_core_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/settings_store_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/version_info_test.cpp
  LIBS cellverter_appcore
)
# The tests read their own executable like the program reads its own.
cellverter_embed_version(app_core_tests)
add_dependencies(app_core_tests version_probe_german version_probe_plain)
target_compile_definitions(app_core_tests PRIVATE
  VERSION_PROBE_GERMAN="$<TARGET_FILE:version_probe_german>"
  VERSION_PROBE_PLAIN="$<TARGET_FILE:version_probe_plain>")
