ombrel_add_bench(road_network ${CMAKE_CURRENT_LIST_DIR}/road_network_bench.cpp)
target_compile_definitions(bench_road_network PRIVATE OMBREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
