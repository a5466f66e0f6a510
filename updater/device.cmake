# The boot-loader requests, the firmware save and programming, and what the
# boot-loader page does (plain C++); then the page itself.
add_library(talmo_updater_core STATIC
  bootloader_commands.cpp bootloader_commands.h
  bootloader_flow.cpp bootloader_flow.h)
target_include_directories(talmo_updater_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talmo_updater_core PUBLIC talmo_link talmo_firmware_files talmo_ui
  PRIVATE talmo_warnings)

if(TALMO_GUI)
  add_library(talmo_updater_page STATIC bootloader_page.cpp bootloader_page.h)
  target_link_libraries(talmo_updater_page PUBLIC talmo_shell_base talmo_updater_core
    PRIVATE talmo_warnings)
endif()
