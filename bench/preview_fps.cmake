# Frames per second of the real Qt preview (a 500 x 500 QOpenGLWidget) flying over the 100 x 100
# example (from vertex buffers and in immediate mode) and the 1024 x 1024 one. Needs a display: run it
# under xvfb-run.
if(TARGET ombrel_gui)
    ombrel_add_bench(preview_fps ${CMAKE_CURRENT_LIST_DIR}/preview_fps_bench.cpp)
    target_link_libraries(bench_preview_fps PRIVATE ombrel_gui)
endif()
