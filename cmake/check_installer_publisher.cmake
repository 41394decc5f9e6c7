# Checks the installer publisher a build is made with. Included by the top-level CMakeLists.txt,
# and runnable on its own for the tests:
#   cmake -DTARVIK_INSTALLER_PUBLISHER=... [-DWIN32=ON] -P check_installer_publisher.cmake
#
# The publisher is the display name of the certificate the vendor signs installers with: its
# common name, which the system's consent prompt shows as the verified publisher. The program
# compares it character for character, so a name that no certificate could carry (white space
# at either end, control characters, a whole subject such as "CN=..., O=...") would refuse every
# installer, and is refused here with the reason.

function(tarvik_check_installer_publisher publisher is_windows)
  if(publisher STREQUAL "")
    return()
  endif()
  if(NOT is_windows)
    message(FATAL_ERROR
            "TARVIK_INSTALLER_PUBLISHER: code signatures are checked by the Windows program only; "
            "the Linux program checks minisign signatures (TARVIK_INSTALLER_KEY) instead.")
  endif()
  string(STRIP "${publisher}" stripped)
  if(NOT stripped STREQUAL publisher)
    message(FATAL_ERROR "TARVIK_INSTALLER_PUBLISHER has white space at its start or end, which "
                        "no certificate's name matches: \"${publisher}\"")
  endif()
  # CMake's expressions have no escapes for control characters, so each is looked for.
  foreach(code RANGE 1 31)
    string(ASCII ${code} control)
    string(FIND "${publisher}" "${control}" at)
    if(at GREATER_EQUAL 0)
      message(FATAL_ERROR "TARVIK_INSTALLER_PUBLISHER holds a control character (code ${code})")
    endif()
  endforeach()
  if(publisher MATCHES "^(CN|O|OU|E)=")
    message(FATAL_ERROR "TARVIK_INSTALLER_PUBLISHER must be the certificate's display name (its "
                        "common name, as the consent prompt shows it), not a subject: ${publisher}")
  endif()
endfunction()

# The name as the text of a C string literal: backslashes and quotation marks escaped.
function(tarvik_publisher_literal publisher variable)
  string(REPLACE "\\" "\\\\" literal "${publisher}")
  string(REPLACE "\"" "\\\"" literal "${literal}")
  set(${variable} "${literal}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tarvik_check_installer_publisher("${TARVIK_INSTALLER_PUBLISHER}" "${WIN32}")
endif()
