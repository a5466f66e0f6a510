# Intel HEX records and the PIC image with its HEX files: plain C++, no Qt.
add_library(talmo_hex STATIC
  ${CMAKE_CURRENT_LIST_DIR}/hex_records.cpp ${CMAKE_CURRENT_LIST_DIR}/hex_records.h
  ${CMAKE_CURRENT_LIST_DIR}/pic_image.cpp ${CMAKE_CURRENT_LIST_DIR}/pic_image.h
  ${CMAKE_CURRENT_LIST_DIR}/latin1.h)
target_include_directories(talmo_hex PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talmo_hex PUBLIC talmo_ui PRIVATE talmo_warnings)
set_target_properties(talmo_hex PROPERTIES AUTOMOC OFF)
