ombrel_add_bench(config_load ${CMAKE_CURRENT_LIST_DIR}/config_load_bench.cpp)
target_compile_definitions(bench_config_load PRIVATE OMBREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
