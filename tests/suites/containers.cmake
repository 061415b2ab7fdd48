# Transport and program streams as ffmpeg muxes them: every track against its
# own stream's WAV, lost packets, a late start, other codecs, scrambling, pipes.
add_test(NAME containers.tracks_gaps_cuts_and_refusals
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/containers.sh $<TARGET_FILE:sondrik>)
set_tests_properties(containers.tracks_gaps_cuts_and_refusals PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 240)
