# The bridge that serves the emulator's virtual TALMOs as hidraw devices
# under umockdev (library for in-process tests, and a program that runs
# another program against them).
if(TARGET PkgConfig::UMOCKDEV AND TARGET talmo_sim)
  add_library(talmo_hidraw_bridge STATIC hidraw_bridge.cpp hidraw_bridge.h)
  target_include_directories(talmo_hidraw_bridge PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(talmo_hidraw_bridge PUBLIC talmo_sim PkgConfig::UMOCKDEV Threads::Threads
    PRIVATE talmo_warnings)

  add_executable(talmo-hidraw-bridge hidraw_bridge_main.cpp)
  target_link_libraries(talmo-hidraw-bridge PRIVATE talmo_hidraw_bridge talmo_ui talmo_warnings)
endif()
