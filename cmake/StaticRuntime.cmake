# The shipped binaries must run on a bare Windows: link the GCC and C++
# runtimes into them so that only system DLLs are imported.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Small binaries: optimise for size, drop unused sections, strip symbols.
  set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG")
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections $<$<CONFIG:Release>:-s>)
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

# ravoduza_shipped_binary(TARGET): what every shipped binary gets beyond the
# static runtime.
function(ravoduza_shipped_binary target)
  if(MINGW)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/system/TerminateHandler_mingw.cpp)
  endif()
endfunction()
