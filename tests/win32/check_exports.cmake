# Compares the export tables of the built DLLs (objdump -p) with the tool's binding table
# (src/agentapi/outside_binding.cc): every DLL the tool binds exists under that exact file name,
# exports exactly the ordinals that the tool binds in it (and the optional ones named below), and
# no name at all.
# cmake -DOBJDUMP=... -DBINDING=.../outside_binding.cc -DBIN_DIR=... -P check_exports.cmake
file(READ ${BINDING} binding)

# The Windows file names, in the order of the OutsideLibrary constants.
string(REGEX MATCH "#ifdef _WIN32[^#]*LIBRARY_FILES\\[LIBRARY_COUNT\\] = {([^}]*)}" found "${binding}")
if(NOT found)
  message(FATAL_ERROR "no Windows library file names in ${BINDING}")
endif()
string(REGEX MATCHALL "\"[^\"]+\"" files "${CMAKE_MATCH_1}")
set(constants LIBRARY_AGENT LIBRARY_SNMP LIBRARY_MIB)
list(LENGTH files file_count)
if(NOT file_count EQUAL 3)
  message(FATAL_ERROR "expected three Windows library names, found: ${files}")
endif()

string(REGEX MATCHALL "OUTSIDE_OPERATION\\(LIBRARY_[A-Z]+, [0-9]+, [A-Za-z]+\\)" rows "${binding}")
list(LENGTH rows row_count)
if(row_count LESS 27)
  message(FATAL_ERROR "binding table not found in ${BINDING} (${row_count} rows)")
endif()

# Ordinals a library exports beyond what the tool binds: optional operations of later libraries
# that other programs bind when they are there (AgentApplyChanges, the change set).
set(optional_LIBRARY_AGENT 53)

set(failures "")
foreach(index RANGE 2)
  list(GET constants ${index} constant)
  list(GET files ${index} quoted)
  string(REPLACE "\"" "" dll "${quoted}")
  set(bound "")
  foreach(row ${rows})
    if(row MATCHES "\\(${constant}, ([0-9]+), ")
      list(APPEND bound ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(APPEND bound ${optional_${constant}})
  list(REMOVE_DUPLICATES bound)
  list(SORT bound COMPARE NATURAL)

  # Found by its exact name: a listing of the folder, not a lookup that folds case.
  file(GLOB present RELATIVE ${BIN_DIR} ${BIN_DIR}/*.dll)
  list(FIND present ${dll} at)
  if(at EQUAL -1)
    string(APPEND failures "${dll}: no file of exactly that name in ${BIN_DIR} (${present})\n")
    continue()
  endif()
  execute_process(COMMAND ${OBJDUMP} -p ${BIN_DIR}/${dll} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${dll} failed")
  endif()
  string(REGEX MATCHALL "\\+base\\[ *[0-9]+\\] [0-9a-f]+ Export RVA" entries "${dump}")
  set(exported "")
  foreach(entry ${entries})
    string(REGEX MATCH "\\+base\\[ *([0-9]+)\\]" ignored "${entry}")
    list(APPEND exported ${CMAKE_MATCH_1})
  endforeach()
  list(SORT exported COMPARE NATURAL)
  if(NOT "${exported}" STREQUAL "${bound}")
    string(APPEND failures "${dll}: exports ordinals [${exported}], the tool binds [${bound}]\n")
  endif()
  # Named exports show as "[ordinal] name" rows under this heading; ordinal-only DLLs have none.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[[^\n]*\n)+" named "${dump}")
  if(named)
    string(APPEND failures "${dll}: exports names:\n${named}")
  endif()
  message(STATUS "${dll}: ordinals ${exported}")
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
