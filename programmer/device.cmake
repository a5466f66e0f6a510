# The 'Y' commands and the sequences built on them: identification, reading,
# programming and verification of the board PIC (plain C++, no Qt); then the
# programmer page that runs them.
add_library(talmo_programmer_core STATIC
  target_commands.cpp target_commands.h
  pic_identify.cpp pic_identify.h
  pic_read.cpp pic_read.h
  pic_program.cpp pic_program.h
  board_version.cpp board_version.h
  programmer_flow.cpp programmer_flow.h)
target_include_directories(talmo_programmer_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talmo_programmer_core PUBLIC talmo_link talmo_hex talmo_ui PRIVATE talmo_console_core talmo_warnings)

if(TALMO_GUI)
  add_library(talmo_programmer_page STATIC programmer_page.cpp programmer_page.h)
  target_link_libraries(talmo_programmer_page
    PUBLIC talmo_shell_base talmo_programmer_core PRIVATE talmo_warnings)
endif()
