# Tests of the AVI menu section reader, included by this directory's
# CMakeLists.txt. The reader's sources belong to zep_avi; while zep_avi does
# not carry them (or does not exist yet) the tests build them on their own.
set(zep_menu_test_libs)
set(zep_menu_in_avi FALSE)
if(TARGET zep_avi)
  get_target_property(zep_avi_sources zep_avi SOURCES)
  if("${zep_avi_sources}" MATCHES "avi_menu\\.cpp")
    set(zep_menu_in_avi TRUE)
  endif()
endif()
if(NOT zep_menu_in_avi)
  include(${CMAKE_CURRENT_LIST_DIR}/../../../modules/avi/menu.cmake)
  add_library(zep_avi_menu_standalone STATIC ${ZEP_AVI_MENU_SOURCES})
  target_link_libraries(zep_avi_menu_standalone PUBLIC zep_layer1)
  set(zep_menu_test_libs zep_avi_menu_standalone)
endif()

zep_add_test(avi_menu_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/menu_reader_test.cpp
  LIBS ${zep_menu_test_libs})

# Whole files with a menu section need the AVI module itself.
if(zep_menu_in_avi)
  zep_add_test(avi_menu_file_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/menu_file_test.cpp
    LIBS zep_avi_test_util)
endif()
