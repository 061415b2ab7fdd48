add_test(NAME cli.converts_encoder_streams_readable_by_sox_and_ffprobe
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_readers.sh $<TARGET_FILE:sondrik>)
add_test(NAME cli.exit_status_and_lines COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_exit_status.sh $<TARGET_FILE:sondrik>)
add_test(NAME cli.folder_trees_and_existing_destinations
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_trees.sh $<TARGET_FILE:sondrik> ${CMAKE_CURRENT_SOURCE_DIR}/data)
add_test(NAME cli.jobs_keep_lines_in_order_and_bytes_identical
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_jobs.sh $<TARGET_FILE:sondrik> ${CMAKE_CURRENT_SOURCE_DIR}/data)
add_test(NAME cli.interrupt_leaves_a_playable_start
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_interrupt.sh $<TARGET_FILE:sondrik>)
add_test(NAME cli.stdin_to_stdout_read_by_sox_and_ffmpeg
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_pipes.sh $<TARGET_FILE:sondrik> ${CMAKE_CURRENT_SOURCE_DIR}/data)
add_test(NAME cli.debian_package_installs_and_runs COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_package.sh ${PROJECT_BINARY_DIR})
set_tests_properties(cli.converts_encoder_streams_readable_by_sox_and_ffprobe cli.debian_package_installs_and_runs
                     PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME cli.damage_is_reported_checked_and_resumed
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_damage.sh $<TARGET_FILE:sondrik>)
add_test(NAME cli.shards_lists_and_tracks COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_shards.sh $<TARGET_FILE:sondrik>)
set_tests_properties(cli.shards_lists_and_tracks PROPERTIES SKIP_RETURN_CODE 77)
