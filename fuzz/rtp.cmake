# RTP media parsers: the header parse, the SPS readers, and the depacketizers fed packet
# sequences (records of flags, length and payload; see rtp_fuzz_support.h).
norvane_add_fuzzer(rtp_header ${CMAKE_CURRENT_LIST_DIR}/rtp_header_fuzzer.cpp)
norvane_add_fuzzer(sps_reader ${CMAKE_CURRENT_LIST_DIR}/sps_reader_fuzzer.cpp)
norvane_add_fuzzer(h264_parser ${CMAKE_CURRENT_LIST_DIR}/h264_parser_fuzzer.cpp)
norvane_add_fuzzer(jpeg_parser ${CMAKE_CURRENT_LIST_DIR}/jpeg_parser_fuzzer.cpp)
# The reorder window in front of the H.264 depacketizer: any permutation, repetition and loss of a
# packet list delivers only frames byte-identical to frames sent.
norvane_add_fuzzer(rtp_reorder ${CMAKE_CURRENT_LIST_DIR}/rtp_reorder_fuzzer.cpp)
norvane_add_fuzzer(h265_parser ${CMAKE_CURRENT_LIST_DIR}/h265_parser_fuzzer.cpp)
norvane_add_fuzzer(h265_sps_reader ${CMAKE_CURRENT_LIST_DIR}/h265_sps_reader_fuzzer.cpp)
