# Checks the installer key a build is made with. Included by the top-level CMakeLists.txt, and
# runnable on its own for the tests:
#   cmake -DTARVIK_INSTALLER_KEY=... [-DWIN32=ON] -P check_installer_key.cmake
#
# The key is the second line of a minisign public key file (`minisign -G` writes it): "RW"
# followed by 54 more base64 characters, 42 bytes in all (the algorithm "Ed", an 8-byte key id
# and the 32-byte Ed25519 key), which fill the 56 characters exactly, without padding. A key
# that does not have this form would make every download fail its check, so it is refused here.

function(tarvik_check_installer_key key is_windows)
  if(key STREQUAL "")
    return()
  endif()
  if(is_windows)
    message(FATAL_ERROR
            "TARVIK_INSTALLER_KEY: minisign signatures are checked by the Linux program only; "
            "the Windows program checks installers' Authenticode signatures instead.")
  endif()
  if(key MATCHES "^untrusted comment:")
    message(FATAL_ERROR "TARVIK_INSTALLER_KEY must be the key line of the public key file (its "
                        "second line, \"RW...\"), not the comment line: ${key}")
  endif()
  string(LENGTH "${key}" length)
  if(NOT length EQUAL 56)
    message(FATAL_ERROR "TARVIK_INSTALLER_KEY must be 56 characters long (a minisign public key, "
                        "\"RW...\"), not ${length}: ${key}")
  endif()
  if(NOT key MATCHES "^[A-Za-z0-9+/]+$")
    message(FATAL_ERROR "TARVIK_INSTALLER_KEY holds characters that are not base64: ${key}")
  endif()
  if(NOT key MATCHES "^RW")
    message(FATAL_ERROR "TARVIK_INSTALLER_KEY is no Ed25519 minisign public key (it must begin "
                        "with \"RW\"): ${key}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tarvik_check_installer_key("${TARVIK_INSTALLER_KEY}" "${WIN32}")
endif()
