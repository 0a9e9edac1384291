target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/drive_type.h ${CMAKE_CURRENT_LIST_DIR}/drive_type.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recent_files.h ${CMAKE_CURRENT_LIST_DIR}/recent_files.cpp
)
