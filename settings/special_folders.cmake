target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/special_folders.h ${CMAKE_CURRENT_LIST_DIR}/special_folders.cpp
)
