# Subtitle rendering and QSUB packets: sources and the libraries they need.
# Included by modules/subtitle/CMakeLists.txt, which builds zep_subtitle.
find_package(Freetype REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZEP_FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)

set(ZEP_SUBTITLE_RENDER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_render.cpp
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_render_markup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/subtitle_render_packet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qsub_rle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qsub_decode.cpp)
list(APPEND ZEP_SUBTITLE_LIBS Freetype::Freetype PkgConfig::ZEP_FONTCONFIG)
