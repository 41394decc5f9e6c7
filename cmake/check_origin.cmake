# Checks the service origin a build is made for. Included by the top-level CMakeLists.txt, and
# runnable on its own for the tests:
#   cmake -DTARVIK_SERVICE_ORIGIN=... [-DTARVIK_ALLOW_INSECURE_ORIGIN=ON] -P check_origin.cmake
#
# The origin serves the page, and the page commands the host: it starts downloads and an
# installer with administrator rights. Over plain HTTP anyone on the way (a public hotspot, a
# proxy) can replace the page, so a program for real users must reach its service over HTTPS.
# Plain HTTP is accepted for loopback only, where tests and the demo run their service.

function(tarvik_check_origin origin allow_insecure)
  if(origin MATCHES "/$")
    message(FATAL_ERROR "TARVIK_SERVICE_ORIGIN must not end in '/': ${origin}")
  endif()
  if(NOT origin MATCHES "^([A-Za-z][A-Za-z0-9+.-]*)://([^/?#]+)$")
    message(FATAL_ERROR "TARVIK_SERVICE_ORIGIN must be scheme://host[:port] with nothing after "
                        "the host: ${origin}")
  endif()
  string(TOLOWER "${CMAKE_MATCH_1}" scheme)
  string(TOLOWER "${CMAKE_MATCH_2}" authority)
  if(authority MATCHES "@")
    message(FATAL_ERROR "TARVIK_SERVICE_ORIGIN must not hold a user name or password: ${origin}")
  endif()
  if(scheme STREQUAL "https")
    return()
  endif()
  if(NOT scheme STREQUAL "http")
    message(FATAL_ERROR "TARVIK_SERVICE_ORIGIN must be an https:// origin: ${origin}")
  endif()
  # The host part without a port; an IPv6 address keeps its brackets.
  string(REGEX REPLACE ":[0-9]*$" "" host "${authority}")
  if(host STREQUAL "localhost" OR host STREQUAL "[::1]" OR
     host MATCHES "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    return()
  endif()
  if(allow_insecure)
    message(WARNING "TARVIK_SERVICE_ORIGIN ${origin} is plain HTTP: anyone on the network path "
                    "can replace the page, which commands this program. "
                    "(TARVIK_ALLOW_INSECURE_ORIGIN is ON.)")
    return()
  endif()
  message(FATAL_ERROR
          "TARVIK_SERVICE_ORIGIN ${origin} is plain HTTP and not loopback. Over plain HTTP anyone "
          "on the network path can replace the page, and the page commands this program "
          "(downloads, installer starts with administrator rights). Use an https:// origin; "
          "to build such a program anyway (a closed test network), configure with "
          "-DTARVIK_ALLOW_INSECURE_ORIGIN=ON.")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tarvik_check_origin("${TARVIK_SERVICE_ORIGIN}" "${TARVIK_ALLOW_INSECURE_ORIGIN}")
endif()
