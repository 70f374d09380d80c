# Subtitle rendering and QSUB packets.
if(TARGET zep_subtitle)
  zep_add_test(subtitle_render_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/render_test.cpp)
endif()
