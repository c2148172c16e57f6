ombrel_add_bench(export_formats ${CMAKE_CURRENT_LIST_DIR}/export_formats_bench.cpp)
target_compile_definitions(bench_export_formats PRIVATE OMBREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
