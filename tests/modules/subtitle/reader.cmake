# Text subtitle readers and the text subtitle read module.
zep_add_test(subtitle_reader_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_line_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/srt_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ass_reader_test.cpp)
zep_add_test(subtitle_module_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_module_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_real_files_test.cpp)
