ombrel_add_bench(vrml_triangulate ${CMAKE_CURRENT_LIST_DIR}/vrml_triangulate_bench.cpp)
