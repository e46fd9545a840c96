# Run by cpack once the packages are made (CPACK_POST_BUILD_SCRIPTS); cpack passes on only the
# variables named CPACK_*.
foreach(file IN LISTS CPACK_PACKAGE_FILES)
  if(file MATCHES "\\.ddeb$")
    execute_process(COMMAND sh "${CPACK_OASET_REPAIR_DBGSYM}" "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "repairing ${file} failed")
    endif()
  endif()
endforeach()
