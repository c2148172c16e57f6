ombrel_add_fuzzer(config_load ${CMAKE_CURRENT_LIST_DIR}/config_load_fuzz.cpp)
