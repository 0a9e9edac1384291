target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file_loading.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_drop.h ${CMAKE_CURRENT_LIST_DIR}/file_drop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/start_files.h ${CMAKE_CURRENT_LIST_DIR}/start_files.cpp
)
