# A/B switching through the real main window: latency of a switch as a ratio
# to the player's ring, and underruns over a minute of playback with the
# window repainting; run by ab_switch.sh.
add_executable(bench_ab_switch ${CMAKE_CURRENT_LIST_DIR}/ab_switch_main.cpp)
target_link_libraries(bench_ab_switch PRIVATE wavrell_widgets)
