# SPDX-License-Identifier: MIT
# Fails when a source of a layer includes a header of a layer above it.
# Run by the build before a layer's library is compiled:
#   cmake -DLAYER=app -DALLOWED="app;link" -DFILES="a.cpp;a.h" -DSTAMP=... -P check_layers.cmake
# Only project headers written as "folder/file.h" are looked at; system
# and library headers (<...>) are not.
# ALLOWED may separate the layers by ";" or ",".
string(REPLACE "," ";" ALLOWED "${ALLOWED}")
set(errors "")
foreach(file IN LISTS FILES)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(header "${CMAKE_MATCH_1}")
      set(ok FALSE)
      foreach(layer IN LISTS ALLOWED)
        string(LENGTH "${layer}/" prefix_length)
        string(SUBSTRING "${header}" 0 ${prefix_length} prefix)
        if(prefix STREQUAL "${layer}/")
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        string(APPEND errors "\n  ${file}: #include \"${header}\" (layer ${LAYER} may include only: ${ALLOWED})")
      endif()
    endif()
  endforeach()
endforeach()
if(errors)
  message(FATAL_ERROR "An include runs back up a layer:${errors}")
endif()
file(WRITE "${STAMP}" "ok\n")
