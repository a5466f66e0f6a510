if(TALMO_GUI)
  add_library(talmo_programmer_page STATIC programmer_page.cpp programmer_page.h)
  target_link_libraries(talmo_programmer_page PUBLIC talmo_shell_base PRIVATE talmo_warnings)
endif()
