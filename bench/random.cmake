ombrel_add_bench(random ${CMAKE_CURRENT_LIST_DIR}/random_bench.cpp)
