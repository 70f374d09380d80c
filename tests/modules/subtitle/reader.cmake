# Text subtitle readers and the text subtitle read module.
zep_add_test(subtitle_reader_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_reader_test.cpp)
zep_add_test(subtitle_module_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/subtitle_module_test.cpp
             LIBS zep_avi_test_util)
