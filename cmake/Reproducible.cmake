# Two builds of one commit give byte-identical binaries, wherever their
# source and build folders are: no time stamps, no build paths.
if(MINGW)
  # __FILE__ (asserts, exceptions) names files relative to the tree; the
  # build folder is named last so that it wins over the source folder it
  # may lie in.
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
  # GNU ld writes the link time into the PE header (and so the checksum).
  add_link_options(-Wl,--no-insert-timestamp)
elseif(MSVC)
  # Hashes instead of time stamps in objects and the PE header.
  add_compile_options(/Brepro)
  add_link_options(/Brepro)
endif()
