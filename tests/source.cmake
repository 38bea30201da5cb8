# The FFMS2 source reader (source/): frames against ffmpeg's decode in
# every container, the player's fields, the index cache, the refusals; and
# our declarations of FFMS2's interface against Debian's header.
zemivtc_test(source_test
  ${CMAKE_CURRENT_SOURCE_DIR}/source_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/source_layout_test.cpp)
target_link_libraries(source_test PRIVATE zemivtc_source zemivtc_footage)
