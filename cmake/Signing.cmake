# Trust: whom the loader accepts as the signer of the setup it downloads, and
# the certificate the build signs the shipped binaries with.

set(RAVODUZA_SETUP_PUBLISHER "" CACHE STRING
    "Signer names (;-separated) the shipped loader accepts on the downloaded setup; empty: unchecked")
set(RAVODUZA_SETUP_KEY_SHA256 "" CACHE STRING
    "SHA-256 hashes (hex, ;-separated) of the signer's SubjectPublicKeyInfo the loader accepts; empty: any key")
set(RAVODUZA_SIGN_PKCS12 "" CACHE FILEPATH
    "Certificate with its key (.pfx/.p12) the build signs RAVoduza.exe and RAVoduza_Download.dll with")
set(RAVODUZA_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the password of RAVODUZA_SIGN_PKCS12 (the password itself never enters the build)")
set(RAVODUZA_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signatures; empty: no time stamp")

if(RAVODUZA_SETUP_PUBLISHER STREQUAL "")
  message(WARNING "RAVODUZA_SETUP_PUBLISHER is empty: the loader will run the downloaded setup "
                  "unchecked, whoever signed it, or nobody.")
endif()

if(NOT RAVODUZA_SIGN_PKCS12 STREQUAL "")
  find_program(RAVODUZA_OSSLSIGNCODE osslsigncode REQUIRED)
  foreach(file RAVODUZA_SIGN_PKCS12 RAVODUZA_SIGN_PASSWORD_FILE)
    if(NOT ${file} STREQUAL "" AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file}: no such file: ${${file}}")
    endif()
  endforeach()
endif()

# ravoduza_setup_publisher(TARGET [PUBLISHERS name...] [KEYS sha256...]):
# compiles into TARGET the lists that ConfiguredPublishers() and
# ConfiguredKeySha256() return (SetupSignature.h).
function(ravoduza_setup_publisher target)
  cmake_parse_arguments(P "" "" "PUBLISHERS;KEYS" ${ARGN})
  set(publishers "")
  foreach(name IN LISTS P_PUBLISHERS)
    string(STRIP "${name}" name)
    if(NOT name STREQUAL "")
      string(REPLACE "\\" "\\\\" name "${name}")
      string(REPLACE "\"" "\\\"" name "${name}")
      string(APPEND publishers "L\"${name}\", ")
    endif()
  endforeach()
  set(keys "")
  foreach(key IN LISTS P_KEYS)
    string(STRIP "${key}" key)
    string(LENGTH "${key}" length)
    if(NOT key MATCHES "^[0-9A-Fa-f]+$" OR NOT length EQUAL 64)
      message(FATAL_ERROR "${target}: \"${key}\" is no SHA-256 hash in hex (64 digits)")
    endif()
    string(TOLOWER "${key}" key)
    string(APPEND keys "\"${key}\", ")
  endforeach()
  if(publishers STREQUAL "" AND NOT keys STREQUAL "")
    message(FATAL_ERROR "${target}: a key pin (RAVODUZA_SETUP_KEY_SHA256) is checked together with "
                        "a publisher name: set RAVODUZA_SETUP_PUBLISHER too")
  endif()
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_ConfiguredPublishers.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/system/ConfiguredPublishers.cpp.in ${generated} @ONLY)
  target_sources(${target} PRIVATE ${generated})
endfunction()

# ravoduza_sign(TARGET): signs TARGET's file with RAVODUZA_SIGN_PKCS12 when
# that is set. Call it after every other POST_BUILD step of TARGET: any
# change after signing breaks the signature.
function(ravoduza_sign target)
  if(RAVODUZA_SIGN_PKCS12 STREQUAL "")
    return()
  endif()
  set(sign ${RAVODUZA_OSSLSIGNCODE} sign -pkcs12 ${RAVODUZA_SIGN_PKCS12} -h sha256)
  if(NOT RAVODUZA_SIGN_PASSWORD_FILE STREQUAL "")
    list(APPEND sign -readpass ${RAVODUZA_SIGN_PASSWORD_FILE})
  endif()
  if(NOT RAVODUZA_SIGN_TIMESTAMP_URL STREQUAL "")
    list(APPEND sign -ts ${RAVODUZA_SIGN_TIMESTAMP_URL})
  endif()
  # osslsigncode writes a new file: sign beside it, then replace it.
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rm -f ${file}.signed
    COMMAND ${sign} -in ${file} -out ${file}.signed
    COMMAND ${CMAKE_COMMAND} -E rename ${file}.signed ${file}
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
