# How every target of this project is built. Flags belong to targets, not to
# the directory: each target calls ravoduza_target() after it is made.

# ravoduza_target(TARGET [WIDE_ENTRY]): the project's definitions, warnings
# and, with MinGW, small code and a statically linked runtime, so that the
# programs import only system DLLs. WIDE_ENTRY: the program starts at wmain
# or wWinMain.
function(ravoduza_target target)
  cmake_parse_arguments(T "WIDE_ENTRY" "" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  set(cxx $<COMPILE_LANGUAGE:C,CXX>)
  if(WIN32)
    # Windows 8 API level: SetDefaultDllDirectories and LOAD_LIBRARY_SEARCH_* flags.
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                               _WIN32_WINNT=0x0602 WINVER=0x0602)
  endif()
  if(MSVC)
    target_compile_options(${target} PRIVATE $<${cxx}:/W4 /utf-8>)
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  else()
    target_compile_options(${target} PRIVATE $<${cxx}:-Wall -Wextra>)
  endif()
  if(MINGW)
    # Small binaries: optimise for size, drop unused sections, strip symbols.
    target_compile_options(${target} PRIVATE
      $<${cxx}:$<$<CONFIG:Release>:-Os> -ffunction-sections -fdata-sections>)
    if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY")
      target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
                          -Wl,--gc-sections $<$<CONFIG:Release>:-s>)
    endif()
    if(T_WIDE_ENTRY)
      target_link_options(${target} PRIVATE -municode)
    endif()
  endif()
endfunction()

# ravoduza_shipped_binary(TARGET): what every shipped binary gets beyond that.
function(ravoduza_shipped_binary target)
  if(MINGW)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/system/TerminateHandler_mingw.cpp)
  endif()
endfunction()
