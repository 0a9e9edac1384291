target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ini_file.h ${CMAKE_CURRENT_LIST_DIR}/ini_file.cpp
)
