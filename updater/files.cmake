# The firmware image and its HEX files: plain C++, no Qt.
add_library(talmo_firmware_files STATIC
  ${CMAKE_CURRENT_LIST_DIR}/firmware_image.cpp ${CMAKE_CURRENT_LIST_DIR}/firmware_image.h)
target_include_directories(talmo_firmware_files PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talmo_firmware_files PUBLIC talmo_hex talmo_ui PRIVATE talmo_warnings)
set_target_properties(talmo_firmware_files PROPERTIES AUTOMOC OFF)
