add_test(NAME cli.converts_encoder_streams_readable_by_sox_and_ffprobe
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_readers.sh $<TARGET_FILE:sondrik>)
set_tests_properties(cli.converts_encoder_streams_readable_by_sox_and_ffprobe PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME cli.exit_status_and_lines COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_exit_status.sh $<TARGET_FILE:sondrik>)
