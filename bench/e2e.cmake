# End-to-end receive cost against simulated cameras on loopback (run by bench/e2e_receive.py):
# e2e-camera serves several simulated cameras that count what they send; e2e-scale is a host that
# loads the plug-in and opens one H.264 channel per camera endpoint.
if(TARGET vantrel_camera_sim)
    add_executable(e2e-camera ${CMAKE_CURRENT_LIST_DIR}/e2e_camera.cpp)
    target_link_libraries(e2e-camera PRIVATE vantrel_camera_sim)
    norvane_target_defaults(e2e-camera)
endif()

add_executable(e2e-scale ${CMAKE_CURRENT_LIST_DIR}/e2e_scale.cpp)
target_include_directories(e2e-scale PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(e2e-scale PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
target_compile_definitions(e2e-scale PRIVATE
    NORVANE_BENCH_PLUGIN_PATH="$<TARGET_FILE:vantrel_capture>")
add_dependencies(e2e-scale vantrel_capture)
norvane_target_defaults(e2e-scale)
