target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/web_detect.h ${CMAKE_CURRENT_LIST_DIR}/web_detect.cpp
)

# The connection-state library, loaded by name at run time; built next to the
# wavrell executable, where TWebDetect looks first.
add_library(wavrellconnstate SHARED
  ${CMAKE_CURRENT_LIST_DIR}/connstate/conn_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connstate/conn_flags.h ${CMAKE_CURRENT_LIST_DIR}/connstate/conn_flags.cpp
)
target_include_directories(wavrellconnstate PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(wavrellconnstate PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# Whatever links the widgets library finds the connection-state library built.
add_dependencies(wavrell_widgets wavrellconnstate)
install(TARGETS wavrellconnstate LIBRARY DESTINATION bin)
