# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS).
if(NOT CPACK_PACKAGE_FILES)
  return()
endif()
execute_process(COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/installed-size.sh" ${CPACK_PACKAGE_FILES}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installed-size.sh failed (${status})")
endif()
