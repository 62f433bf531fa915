# The shipped binaries must run on a bare Windows: link the GCC and C++
# runtimes into them so that only system DLLs are imported.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Small binaries: drop unused sections and strip symbols in Release.
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections $<$<CONFIG:Release>:-s>)
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()
