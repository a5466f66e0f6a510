if(TALMO_GUI)
  add_library(talmo_updater_page STATIC bootloader_page.cpp bootloader_page.h)
  target_link_libraries(talmo_updater_page PUBLIC talmo_shell_base PRIVATE talmo_warnings)
endif()
