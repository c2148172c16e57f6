ombrel_add_bench(session_regenerate ${CMAKE_CURRENT_LIST_DIR}/session_regenerate_bench.cpp)
target_compile_definitions(bench_session_regenerate PRIVATE OMBREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
