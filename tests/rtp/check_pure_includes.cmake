# Fails when a pure protocol unit of src/rtp includes a socket, thread, lock or clock header: the
# parsers work on bytes only, so that they can be tested and fuzzed without a network or a thread.
# Usage: cmake -DSOURCE_DIR=<repo>/src/rtp -P check_pure_includes.cmake
set(pure_units byte_reader rtp_packet_info sps_reader jpeg_header rtp_media_parser rtp_reorder_window
    h264_rtp_media_parser jpeg_rtp_media_parser)
set(forbidden "platform/" "<thread>" "<mutex>" "<chrono>" "<condition_variable>" "<ctime>"
    "<sys/" "<netinet/" "<arpa/" "<unistd.h>" "runtime/" "rtp/udp_port.h" "rtp/udp_packet_source.h")
set(failed FALSE)
foreach(unit IN LISTS pure_units)
    foreach(ext h cpp)
        set(file "${SOURCE_DIR}/${unit}.${ext}")
        if(NOT EXISTS "${file}")
            continue()
        endif()
        file(STRINGS "${file}" includes REGEX "^#include")
        foreach(line IN LISTS includes)
            foreach(bad IN LISTS forbidden)
                string(FIND "${line}" "${bad}" at)
                if(NOT at EQUAL -1)
                    message(SEND_ERROR "${unit}.${ext}: ${line}")
                    set(failed TRUE)
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()
if(failed)
    message(FATAL_ERROR "pure RTP units include system services")
endif()
