# RTP media: H.264 depacketizing into host samples next to memcpy of the same bytes.
norvane_add_benchmark(rtp_bench ${CMAKE_CURRENT_LIST_DIR}/rtp_bench.cpp)
# The UDP port's receive loop on loopback, one wait per datagram against draining.
norvane_add_benchmark(rtp_receive_bench ${CMAKE_CURRENT_LIST_DIR}/rtp_receive_bench.cpp)
# The UDP port's receive thread on paced packet bursts next to a bare recvmmsg receiver (Linux).
if(NOT WIN32)
    add_executable(receive_floor ${CMAKE_CURRENT_LIST_DIR}/receive_floor.cpp)
    target_link_libraries(receive_floor PRIVATE norvane_driver)
    norvane_target_defaults(receive_floor)
endif()
