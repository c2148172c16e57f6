ombrel_add_bench(city_generate ${CMAKE_CURRENT_LIST_DIR}/city_generate_bench.cpp)
