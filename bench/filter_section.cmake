if(benchmark_FOUND)
  add_executable(bench_filter_section ${CMAKE_CURRENT_LIST_DIR}/bench_filter_section.cpp)
  target_link_libraries(bench_filter_section PRIVATE wavrell_core benchmark::benchmark)
endif()
