# RTSP client: the reply path for each request kind and the session description.
set(norvane_rtsp_methods describe setup play teardown options pause)
set(norvane_rtsp_method_value 1)
foreach(method IN LISTS norvane_rtsp_methods)
    norvane_add_fuzzer(rtsp_reply_${method} ${CMAKE_CURRENT_LIST_DIR}/rtsp_reply_fuzz.cpp)
    foreach(target fuzz_rtsp_reply_${method} replay_rtsp_reply_${method})
        if(TARGET ${target})
            target_compile_definitions(${target} PRIVATE
                NORVANE_FUZZ_METHOD=${norvane_rtsp_method_value})
        endif()
    endforeach()
    math(EXPR norvane_rtsp_method_value "${norvane_rtsp_method_value} + 1")
endforeach()

norvane_add_fuzzer(sdp ${CMAKE_CURRENT_LIST_DIR}/sdp_fuzz.cpp)

norvane_add_fuzzer(interleaved_splitter ${CMAKE_CURRENT_LIST_DIR}/interleaved_splitter_fuzz.cpp)
