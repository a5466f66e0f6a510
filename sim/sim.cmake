# The device emulator: a virtual USB bus with virtual TALMOs and the board's PIC.
add_library(talmo_sim STATIC
  ${CMAKE_CURRENT_LIST_DIR}/virtual_usb.h ${CMAKE_CURRENT_LIST_DIR}/virtual_usb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/talmo.h ${CMAKE_CURRENT_LIST_DIR}/talmo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pic.h ${CMAKE_CURRENT_LIST_DIR}/pic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/board_firmware.h ${CMAKE_CURRENT_LIST_DIR}/board_firmware.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exchange_log.h ${CMAKE_CURRENT_LIST_DIR}/exchange_log.cpp)
target_include_directories(talmo_sim PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talmo_sim PUBLIC talmo_ui PRIVATE talmo_warnings)
