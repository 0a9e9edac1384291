target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/appdata_folders.h ${CMAKE_CURRENT_LIST_DIR}/appdata_folders.cpp
)
