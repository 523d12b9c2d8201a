# Unpacks what the package installs into STAGE_DIR: the .deb that cpack makes from
# BUILD_DIR, unpacked with dpkg-deb; where either tool is missing, `cmake --install`
# into STAGE_DIR/usr instead.
#   cmake -DBUILD_DIR=... -DSTAGE_DIR=... -DPACKAGE_DIR=... [-DCPACK=...] [-DDPKG_DEB=...]
#         -P stage_package.cmake
file(REMOVE_RECURSE ${STAGE_DIR} ${PACKAGE_DIR})
file(MAKE_DIRECTORY ${STAGE_DIR} ${PACKAGE_DIR})
if(CPACK AND DPKG_DEB)
  execute_process(
    COMMAND ${CPACK} -G DEB -B ${PACKAGE_DIR} --config ${BUILD_DIR}/CPackConfig.cmake
    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(failed)
    message(FATAL_ERROR "cpack failed:\n${output}")
  endif()
  file(GLOB packages ${PACKAGE_DIR}/relay-panel_*.deb)
  list(LENGTH packages count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one relay-panel_*.deb in ${PACKAGE_DIR}, found: ${packages}")
  endif()
  execute_process(COMMAND ${DPKG_DEB} -x ${packages} ${STAGE_DIR} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb -x ${packages} failed")
  endif()
  file(SIZE ${packages} size)
  message(STATUS "package ${packages}: ${size} bytes")
else()
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE_DIR}/usr
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cmake --install failed")
  endif()
endif()
