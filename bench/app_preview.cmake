# The preview's per-frame backdrop and the generator log's appends. The log part needs the Qt
# layer; it runs on Qt's offscreen platform when there is no display.
if(TARGET ombrel_gui)
    ombrel_add_bench(app_preview ${CMAKE_CURRENT_LIST_DIR}/app_preview_bench.cpp)
    target_link_libraries(bench_app_preview PRIVATE ombrel_gui)
endif()
