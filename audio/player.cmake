# Streaming player and the wave-out device layer it plays through.
target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/pulse_device.h ${CMAKE_CURRENT_LIST_DIR}/pulse_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mpc_play.h ${CMAKE_CURRENT_LIST_DIR}/mpc_play.cpp
)
target_link_libraries(wavrell_core PUBLIC PkgConfig::PULSE)
