# Read by cpack for each package it makes (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
