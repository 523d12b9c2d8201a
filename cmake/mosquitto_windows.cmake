# libmosquitto, the MQTT client library of the Windows programs, built with mingw-w64
# from Debian's own source package of mosquitto (cmake/debian-source) by mosquitto's
# own CMake build, in <build>/mosquitto/. The steps are stamped there: a second build
# neither fetches nor compiles it again. Programs link the imported target
# relay_mosquitto.
#
# Static, as the programs are linked (cmake/mingw-w64.cmake): relayctl.exe and the
# panel run as they are, with no DLL to ship or to find beside them.
# Client library only: no broker, clients, plugins, C++ wrapper or manual. With TLS,
# against the OpenSSL that cmake/openssl_windows.cmake builds (no pre-shared keys,
# which the programs never use). Without threads: the programs drive the client from their own loop (mosquitto_loop_read,
# _write, _misc), and mosquitto's threads would need a pthreads of Windows' own.
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/openssl_windows.cmake)

set(relay_mosquitto_prefix ${CMAKE_BINARY_DIR}/mosquitto)
set(relay_mosquitto_source ${relay_mosquitto_prefix}/source)
set(relay_mosquitto_library ${relay_mosquitto_prefix}/build/lib/libmosquitto_static.a)

set(relay_mosquitto_launchers)
foreach(language C CXX)
  if(CMAKE_${language}_COMPILER_LAUNCHER)
    list(APPEND relay_mosquitto_launchers
      -DCMAKE_${language}_COMPILER_LAUNCHER=${CMAKE_${language}_COMPILER_LAUNCHER})
  endif()
endforeach()

ExternalProject_Add(relay_mosquitto_build
  PREFIX ${relay_mosquitto_prefix}
  SOURCE_DIR ${relay_mosquitto_source}
  BINARY_DIR ${relay_mosquitto_prefix}/build
  DOWNLOAD_COMMAND ${CMAKE_CURRENT_LIST_DIR}/debian-source mosquitto ${relay_mosquitto_source}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake
    -DCMAKE_BUILD_TYPE=Release
    ${relay_mosquitto_launchers}
    -DWITH_STATIC_LIBRARIES=ON -DWITH_TLS=ON -DWITH_TLS_PSK=OFF -DWITH_EC=ON
    -DOPENSSL_INCLUDE_DIR=${relay_openssl_install}/include
    # FindOpenSSL's names for the two libraries under MinGW, and elsewhere.
    -DSSL_EAY=${relay_openssl_install}/lib/libssl.a
    -DLIB_EAY=${relay_openssl_install}/lib/libcrypto.a
    -DOPENSSL_SSL_LIBRARY=${relay_openssl_install}/lib/libssl.a
    -DOPENSSL_CRYPTO_LIBRARY=${relay_openssl_install}/lib/libcrypto.a
    -DWITH_THREADING=OFF -DWITH_SRV=OFF -DWITH_CJSON=OFF -DWITH_BROKER=OFF
    -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF
    -DDOCUMENTATION=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target libmosquitto_static
  BUILD_BYPRODUCTS ${relay_mosquitto_library}
  INSTALL_COMMAND ""
  DEPENDS relay_openssl_build
  LOG_DOWNLOAD ON LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

# The header folder is named before the source is there; CMake wants it to exist.
file(MAKE_DIRECTORY ${relay_mosquitto_source}/include)
add_library(relay_mosquitto STATIC IMPORTED GLOBAL)
set_target_properties(relay_mosquitto PROPERTIES
  IMPORTED_LOCATION ${relay_mosquitto_library}
  INTERFACE_INCLUDE_DIRECTORIES ${relay_mosquitto_source}/include
  INTERFACE_COMPILE_DEFINITIONS LIBMOSQUITTO_STATIC
  INTERFACE_LINK_LIBRARIES "relay_openssl;ws2_32")
add_dependencies(relay_mosquitto relay_mosquitto_build)
