# The reference corpus: files encoded at test time by twolame and ffmpeg's mp2
# encoder, each converted and compared with mpg123 and ffmpeg within 2 LSB at
# every sample. One test per file; the last prints the table of differences.
add_executable(pcm_compare ${CMAKE_CURRENT_LIST_DIR}/../tools/pcm_compare.cpp)
target_include_directories(pcm_compare PRIVATE ${PROJECT_SOURCE_DIR})

set(corpus_script ${CMAKE_CURRENT_LIST_DIR}/reference_corpus.sh)
set(corpus_dir ${CMAKE_CURRENT_BINARY_DIR}/reference_corpus)
set(corpus_tests "")

# name, source (rate:channels:signal), encoder, encoder arguments
function(corpus_file name source encoder arguments)
  add_test(NAME corpus.${name}
           COMMAND bash ${corpus_script} case ${corpus_dir} ${name} $<TARGET_FILE:sondrik>
                   $<TARGET_FILE:pcm_compare> ${source} ${encoder} "${arguments}")
  set_tests_properties(corpus.${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
  set(corpus_tests ${corpus_tests} corpus.${name} PARENT_SCOPE)
endfunction()

# Every mode at every rate (-p: CRC words, -d: padded frames at 44.1 kHz).
corpus_file(tl_48k_stereo_192k 48000:2:music twolame "-m s -b 192")
corpus_file(tl_48k_jstereo_128k_crc 48000:2:music twolame "-m j -b 128 -p")
corpus_file(tl_48k_dual_192k 48000:2:music twolame "-m d -b 192")
corpus_file(tl_48k_mono_96k_crc 48000:1:music twolame "-m m -b 96 -p")
corpus_file(tl_44k_stereo_256k_pad 44100:2:music twolame "-m s -b 256 -d")
corpus_file(tl_44k_jstereo_192k_pad_crc 44100:2:voice twolame "-m j -b 192 -d -p")
corpus_file(tl_44k_dual_128k_pad 44100:2:music twolame "-m d -b 128 -d")
corpus_file(tl_44k_mono_96k 44100:1:music twolame "-m m -b 96")
corpus_file(tl_32k_stereo_224k 32000:2:music twolame "-m s -b 224")
corpus_file(tl_32k_jstereo_128k_crc 32000:2:music twolame "-m j -b 128 -p")
corpus_file(tl_32k_dual_192k 32000:2:music twolame "-m d -b 192")
corpus_file(tl_32k_mono_64k 32000:1:music twolame "-m m -b 64")
# Joint-stereo bounds 8, 12 and 16 next to stereo frames.
corpus_file(tl_48k_jstereo_192k_voice 48000:2:voice twolame "-m j -b 192")
# Stereo and joint-stereo frames from the start: ffmpeg's reader skips two.
corpus_file(tl_48k_jstereo_224k_voice 48000:2:voice twolame "-m j -b 224")
# Low-rate tables: 8 subbands at 48 and 44.1 kHz, 12 at 32 kHz.
corpus_file(tl_48k_jstereo_64k 48000:2:music twolame "-m j -b 64")
corpus_file(tl_44k_jstereo_64k_pad 44100:2:music twolame "-m j -b 64 -d")
corpus_file(tl_44k_mono_32k_pad 44100:1:music twolame "-m m -b 32 -d")
corpus_file(tl_32k_mono_48k 32000:1:music twolame "-m m -b 48")
corpus_file(tl_32k_jstereo_96k_crc 32000:2:voice twolame "-m j -b 96 -p")
# Frames longer than the 800-byte look-ahead, up to 1728 bytes; clipping.
corpus_file(tl_48k_stereo_384k_loud 48000:2:loud twolame "-m s -b 384")
corpus_file(tl_44k_stereo_384k_pad_crc 44100:2:music twolame "-m s -b 384 -d -p")
corpus_file(tl_32k_jstereo_384k_loud 32000:2:loud twolame "-m j -b 384")
# Two-channel frames, then one-channel frames written as two channels.
corpus_file(tl_48k_stereo_then_mono 48000:2:music twolame-switch "-m s -b 192/-m m -b 96")
# The other encoder: stereo and mono only, padded at 44.1 kHz.
corpus_file(ff_48k_stereo_384k_loud 48000:2:loud ffmpeg "-b:a 384k")
corpus_file(ff_44k_stereo_128k 44100:2:music ffmpeg "-b:a 128k")
corpus_file(ff_32k_stereo_192k 32000:2:music ffmpeg "-b:a 192k")
corpus_file(ff_44k_mono_32k 44100:1:music ffmpeg "-b:a 32k")
corpus_file(ff_32k_mono_48k 32000:1:music ffmpeg "-b:a 48k")
corpus_file(ff_48k_mono_64k 48000:1:music ffmpeg "-b:a 64k")

add_test(NAME corpus.table COMMAND bash ${corpus_script} table ${corpus_dir})
set_tests_properties(corpus.table PROPERTIES DEPENDS "${corpus_tests}")
