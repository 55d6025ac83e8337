# RTP media: H.264 depacketizing into host samples next to memcpy of the same bytes.
norvane_add_benchmark(rtp_bench ${CMAKE_CURRENT_LIST_DIR}/rtp_bench.cpp)
