# No fused multiply-add in the decoder's code nor anywhere in the program,
# checked in their disassembly.
find_program(OBJDUMP_FOR_FMA_CHECK NAMES ${CMAKE_OBJDUMP} objdump)
add_test(NAME no_fused_multiply_add
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/no_fused_multiply_add.sh ${OBJDUMP_FOR_FMA_CHECK}
                 $<TARGET_FILE:sondrik_decoder> $<TARGET_FILE:sondrik>)
