# How every target of this project is built. Flags belong to targets, not to
# the directory: each target calls ravoduza_target() after it is made.

# ravoduza_target(TARGET [WIDE_ENTRY]): the project's definitions, warnings
# and, with MinGW, small code and a statically linked runtime, so that the
# programs import only system DLLs. Two builds of one commit give
# byte-identical binaries, wherever their source and build folders are: no
# time stamps, no build paths. WIDE_ENTRY: the program starts at wmain or
# wWinMain.
function(ravoduza_target target)
  cmake_parse_arguments(T "WIDE_ENTRY" "" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  set(binary OFF)  # a program or DLL, which is linked
  if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY")
    set(binary ON)
  endif()
  if(type STREQUAL "STATIC_LIBRARY")
    # After every library of the project on a program's link line: the
    # program's delay-import libraries (see ravoduza_delay_load).
    target_link_libraries(${target} INTERFACE rvz_delay_loaded)
  endif()
  set(cxx $<COMPILE_LANGUAGE:C,CXX>)
  if(WIN32)
    # Windows 8 API level: SetDefaultDllDirectories and LOAD_LIBRARY_SEARCH_* flags.
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                               _WIN32_WINNT=0x0602 WINVER=0x0602)
  endif()
  if(MSVC)
    # /Brepro: hashes instead of time stamps in objects and the PE header.
    target_compile_options(${target} PRIVATE $<${cxx}:/W4 /utf-8 /Brepro>)
    if(binary)
      target_link_options(${target} PRIVATE /Brepro)
    endif()
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  else()
    target_compile_options(${target} PRIVATE $<${cxx}:-Wall -Wextra>)
  endif()
  if(MINGW)
    # Small binaries: optimise for size, drop unused sections, strip symbols.
    # __FILE__ (asserts, exceptions) names files relative to the tree; the
    # build folder is named last so that it wins over the source folder it
    # may lie in.
    target_compile_options(${target} PRIVATE
      $<${cxx}:$<$<CONFIG:Release>:-Os> -ffunction-sections -fdata-sections>
      $<${cxx}:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
      $<${cxx}:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>)
    if(binary)
      # --no-insert-timestamp: GNU ld would write the link time into the PE
      # header (and so the checksum).
      target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
                          -Wl,--gc-sections $<$<CONFIG:Release>:-s> -Wl,--no-insert-timestamp)
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

# GNU ld keeps a delay-import library's thunk for a function only when the
# program calls the function by its plain name; a call through __imp_ (as
# the headers declare user32, gdi32 and shell32 functions) would leave its slot
# empty, and the first call would jump to address 0. So the project's code
# calls them by plain name; with an ordinary import that costs one jump.
if(MINGW)
  add_compile_definitions(_USER32_ _GDI32_ _SHELL32_)
endif()

# The delay-import libraries of whichever program links the project's
# libraries: they must come after all of those, and before the toolchain's
# standard libraries, which import the DLLs at start.
add_library(rvz_delay_loaded INTERFACE)
target_link_libraries(rvz_delay_loaded INTERFACE $<TARGET_PROPERTY:RAVODUZA_DELAY_LOAD_LIBRARIES>)

# ravoduza_delay_load(TARGET DLL...): the program loads these system DLLs on
# the first call of one of their functions, not at its start; its import
# table still names only system DLLs.
function(ravoduza_delay_load target)
  foreach(dll IN LISTS ARGN)
    if(MSVC)
      target_link_options(${target} PRIVATE /DELAYLOAD:${dll}.dll)
      target_link_libraries(${target} PRIVATE delayimp)
    elseif(MINGW)
      set(library ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
      set(imports ${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a)
      if(NOT TARGET rvz_delayload_${dll})
        add_custom_command(OUTPUT ${library}
          COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayload
          COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/make_delay_lib.py
                  ${CMAKE_NM} ${CMAKE_DLLTOOL} ${imports} ${dll} ${library}
          DEPENDS ${imports} ${PROJECT_SOURCE_DIR}/cmake/make_delay_lib.py
          COMMENT "Delay-import library for ${dll}.dll")
        add_custom_target(rvz_delayload_${dll} DEPENDS ${library})
      endif()
      add_dependencies(${target} rvz_delayload_${dll})
      set_property(TARGET ${target} APPEND PROPERTY RAVODUZA_DELAY_LOAD_LIBRARIES ${library})
    endif()
  endforeach()
endfunction()
