ombrel_add_bench(vrml_writer ${CMAKE_CURRENT_LIST_DIR}/vrml_writer_bench.cpp)
