target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ini_file.h ${CMAKE_CURRENT_LIST_DIR}/ini_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry.h ${CMAKE_CURRENT_LIST_DIR}/registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/special_folders.h ${CMAKE_CURRENT_LIST_DIR}/special_folders.cpp
)
