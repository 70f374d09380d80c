# Text subtitle readers (SRT, ASS/SSA) and the text subtitle read module.
# Included by modules/subtitle/CMakeLists.txt, which builds zep_subtitle.
set(ZEP_SUBTITLE_READER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_line_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_subtitle_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/srt_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ass_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_module.cpp)
