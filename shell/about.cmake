target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/about.h ${CMAKE_CURRENT_LIST_DIR}/about.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fjelm_about.h ${CMAKE_CURRENT_LIST_DIR}/fjelm_about.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program_icon.h ${CMAKE_CURRENT_LIST_DIR}/program_icon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/day_number.h ${CMAKE_CURRENT_LIST_DIR}/day_number.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell.qrc
)
