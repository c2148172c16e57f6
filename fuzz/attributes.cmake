ombrel_add_fuzzer(attributes ${CMAKE_CURRENT_LIST_DIR}/attributes_fuzz.cpp)
