ombrel_add_bench(staged_folder ${CMAKE_CURRENT_LIST_DIR}/staged_folder_bench.cpp)
