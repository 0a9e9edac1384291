target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/errors.h
)
target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/application.h ${CMAKE_CURRENT_LIST_DIR}/application.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_box.h ${CMAKE_CURRENT_LIST_DIR}/message_box.cpp
)
