# Bundles the manager console builds a user supplied in data/ (they are the emulator maker's
# program and are not part of this repository; the release package never embeds them, it is
# built with BUNDLE_CONSOLE_BUILDS=OFF). A file is embedded only when its size and SHA-256
# match; otherwise the program looks for it beside itself at run time.
#
# Produces ${CONSOLE_BUILDS_RC}: an .rc file to add to the program's sources.

set(CONSOLE_BUILDS_RC ${CMAKE_BINARY_DIR}/generated/console_builds.rc)
set(_rc "// Manager console builds found in data/ with the expected size and SHA-256.\n")
set(_bundled "")
foreach(entry
    "7.2.1;CONSOLE_7_2_1;1575424;1a9723589abb3d5aafa54301dde7cba61d6f0d63e298e3f74f6cbd1a8872f78f"
    "7.2.2;CONSOLE_7_2_2;1575936;1da3364fefc2420fa47139029818c2b033957b5e9b1bc8b8adec007893ecb394")
  list(GET entry 0 version)
  list(GET entry 1 resource)
  list(GET entry 2 expected_size)
  list(GET entry 3 expected_sha)
  set(file ${CMAKE_SOURCE_DIR}/data/MEmuConsole-${version}.exe)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  if(NOT BUNDLE_CONSOLE_BUILDS)
    message(STATUS "Manager console ${version}: not bundled (BUNDLE_CONSOLE_BUILDS is off)")
  elseif(EXISTS ${file})
    file(SIZE ${file} size)
    file(SHA256 ${file} sha)
    if(size EQUAL expected_size AND sha STREQUAL expected_sha)
      message(STATUS "Manager console ${version}: bundled")
      string(APPEND _rc "${resource} RCDATA \"${file}\"\n")
      string(APPEND _bundled " ${version}")
    else()
      message(WARNING "data/MEmuConsole-${version}.exe has size ${size} and SHA-256 ${sha}; "
                      "expected ${expected_size} and ${expected_sha}. Not bundled.")
    endif()
  else()
    message(STATUS "Manager console ${version}: not bundled (no data/MEmuConsole-${version}.exe)")
  endif()
endforeach()
# Always one resource (windres refuses a file without any): the list of bundled versions.
string(APPEND _rc "CONSOLE_BUILDS_BUNDLED RCDATA { \"${_bundled}\\0\" }\n")
file(CONFIGURE OUTPUT ${CONSOLE_BUILDS_RC} CONTENT "${_rc}")
