# Fails when a source file includes a folder above its own. The layers,
# lowest first; folders on one line are peers and do not include each
# other (they meet through a seam of a lower layer, or in app/):
#   library < net < nntp < (select, dupe, decode, plugin, extras, image)
#           < app < (zorvexd, ui)
# Run as: cmake -DSOURCE_DIR=<dir holding the layer folders> -P check-layers.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check-layers: SOURCE_DIR is not set")
endif()

get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

# The public plug-in header (include/zorvex) sits below everything.
set(rank_zorvex -1)
set(rank_library 0)
set(rank_net 1)
set(rank_nntp 2)
foreach(peer select dupe decode plugin extras image)
  set(rank_${peer} 3)
endforeach()
set(rank_app 4)
set(rank_zorvexd 5)
set(rank_ui 5)

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
set(faults "")
foreach(file ${files})
  string(REGEX MATCH "^[^/]+" own "${file}")
  if(NOT DEFINED rank_${own})
    string(APPEND faults "\n  ${file}: folder '${own}' is not a known layer")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"/]+)/.*$" "\\1" target "${line}")
    if(target STREQUAL own)
      continue()
    endif()
    if(NOT DEFINED rank_${target})
      string(APPEND faults "\n  ${file}: includes unknown folder '${target}'")
    elseif(NOT rank_${target} LESS rank_${own})
      string(APPEND faults "\n  ${file}: ${own}/ may not include ${target}/ (${line})")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes against the layer order:${faults}")
endif()
