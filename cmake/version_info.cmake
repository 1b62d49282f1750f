# add_version_info(TARGET DESCRIPTION): gives the program a VERSIONINFO resource made from the
# project's version number, with the program's own description and file name.
function(add_version_info target description)
  set(VERSION_INFO_NAME ${target})
  set(VERSION_INFO_DESCRIPTION ${description})
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version_info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
