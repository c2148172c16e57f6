ombrel_add_fuzzer(triangulate ${CMAKE_CURRENT_LIST_DIR}/triangulate_fuzz.cpp)
