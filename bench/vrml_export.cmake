ombrel_add_bench(vrml_export ${CMAKE_CURRENT_LIST_DIR}/vrml_export_bench.cpp)
target_compile_definitions(bench_vrml_export PRIVATE OMBREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
