# Real-world streams: frames behind tags, among stuffing and ancillary data,
# in free format, at the half rates, with bit-rate and rate changes, each
# made at test time and compared with mpg123 within 1 LSB. One test per stream.
add_executable(stream_surgery ${CMAKE_CURRENT_LIST_DIR}/../tools/stream_surgery.cpp)

set(streams_script ${CMAKE_CURRENT_LIST_DIR}/real_world_streams.sh)
set(streams_dir ${CMAKE_CURRENT_BINARY_DIR}/real_world_streams)

foreach(stream
    last_byte_ff ancillary_4 ancillary_16 ancillary_50 energy
    id3v23_30k id3v24_30k_footer id3v23_200k id3v24_200k ff_runs
    bitrate_48k_jstereo_128k_to_64k bitrate_44k_jstereo_128k_to_stereo_256k
    free_format_160k free_format_256k half_rate_24k half_rate_22k half_rate_16k
    rate_change_48k_then_44k ff_fd_after_mono renamed_mp3)
  add_test(NAME streams.${stream}
           COMMAND bash ${streams_script} ${streams_dir} ${stream} $<TARGET_FILE:sondrik>
                   $<TARGET_FILE:pcm_compare> $<TARGET_FILE:stream_surgery>)
  set_tests_properties(streams.${stream} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endforeach()
