# Waveform range summaries: redraw through summaries against the straight
# passes, and the load with and without building them (range_summary.sh).
add_executable(bench_range_summary ${CMAKE_CURRENT_LIST_DIR}/bench_range_summary.cpp)
target_link_libraries(bench_range_summary PRIVATE wavrell_core)
