# Two builds of one commit give byte-identical binaries, wherever their
# source and build folders are: no time stamps, no build paths.

# ravoduza_reproducible(TARGET): called by ravoduza_target() for every target.
function(ravoduza_reproducible target)
  get_target_property(type ${target} TYPE)
  set(cxx $<COMPILE_LANGUAGE:C,CXX>)
  if(MINGW)
    # __FILE__ (asserts, exceptions) names files relative to the tree; the
    # build folder is named last so that it wins over the source folder it
    # may lie in.
    target_compile_options(${target} PRIVATE
      $<${cxx}:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
      $<${cxx}:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>)
    if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY")
      # GNU ld writes the link time into the PE header (and so the checksum).
      target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
    endif()
  elseif(MSVC)
    # Hashes instead of time stamps in objects and the PE header.
    target_compile_options(${target} PRIVATE $<${cxx}:/Brepro>)
    if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY")
      target_link_options(${target} PRIVATE /Brepro)
    endif()
  endif()
endfunction()
