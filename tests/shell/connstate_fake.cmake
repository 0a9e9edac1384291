# Test doubles of the connection-state library, used by the connection
# detection and Help menu tests.
add_library(wavrellfakeconnstate SHARED ${CMAKE_CURRENT_LIST_DIR}/connstate_fake.cpp)
add_library(wavrellmissingconnstate SHARED ${CMAKE_CURRENT_LIST_DIR}/connstate_missing.cpp)
set_target_properties(wavrellfakeconnstate wavrellmissingconnstate PROPERTIES CXX_VISIBILITY_PRESET hidden)

add_library(wavrell_connstate_fake_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/connstate_fake.h ${CMAKE_CURRENT_LIST_DIR}/connstate_fake_support.cpp)
target_include_directories(wavrell_connstate_fake_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(wavrell_connstate_fake_support PUBLIC Qt6::Core ${CMAKE_DL_LIBS})
target_compile_definitions(wavrell_connstate_fake_support PRIVATE
  WAVRELL_FAKE_CONNSTATE="$<TARGET_FILE:wavrellfakeconnstate>"
  WAVRELL_MISSING_CONNSTATE="$<TARGET_FILE:wavrellmissingconnstate>")
add_dependencies(wavrell_connstate_fake_support wavrellfakeconnstate wavrellmissingconnstate)
