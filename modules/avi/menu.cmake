# Sources of the menu section reader, added to zep_avi by modules/avi/CMakeLists.txt.
set(ZEP_AVI_MENU_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/avi_menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/avi_menu_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/avi_menu_query.cpp)
