# The about window's animation: processor time of the falling letters (README.md).
if(CELLVERTER_GUI)
  add_executable(about_animation_cpu ${CMAKE_CURRENT_SOURCE_DIR}/about_animation_cpu.cpp)
  target_link_libraries(about_animation_cpu PRIVATE cellverter_options cellverter_about)
endif()
