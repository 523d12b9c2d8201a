# OpenSSL's libssl and libcrypto, for libmosquitto's TLS in the Windows programs, built
# with mingw-w64 from Debian's own source package of OpenSSL (cmake/debian-source) by
# OpenSSL's own Configure and make (perl, make), in <build>/openssl/. The steps are
# stamped there: a second build neither fetches nor compiles it again. Its headers and
# static libraries are installed in <build>/openssl/install; cmake/mosquitto_windows.cmake
# builds the MQTT library against them and links them into the programs.
#
# Static and libraries only (build_libs): no command-line tool, tests, manual, engines or
# loadable modules. What a TLS client of a broker never uses is left out too (old and
# national ciphers, DTLS, SSL 3, SRP, PSK, CMS, CMP, timestamps, certificate
# transparency), which shortens the build. libmosquitto reads OpenSSL's configuration
# file: it is looked for in Common Files\SSL, where only an administrator may write,
# not in a folder named after this machine's paths (\usr\local\ssl on the current
# drive by default), which any user could make and fill.
include(ExternalProject)

set(relay_openssl_prefix ${CMAKE_BINARY_DIR}/openssl)
set(relay_openssl_source ${relay_openssl_prefix}/source)
set(relay_openssl_install ${relay_openssl_prefix}/install)
set(relay_openssl_libraries ${relay_openssl_install}/lib/libssl.a
                            ${relay_openssl_install}/lib/libcrypto.a)
# The licence, with Windows line ends, for the packages.
set(relay_openssl_licence ${CMAKE_BINARY_DIR}/packaging/windows/OpenSSL-LICENSE.txt)

set(relay_openssl_compiler ${CMAKE_C_COMPILER})
if(CMAKE_C_COMPILER_LAUNCHER)
  list(JOIN CMAKE_C_COMPILER_LAUNCHER " " relay_openssl_launcher)
  set(relay_openssl_compiler "${relay_openssl_launcher} ${CMAKE_C_COMPILER}")
endif()
cmake_host_system_information(RESULT relay_openssl_jobs QUERY NUMBER_OF_LOGICAL_CORES)

ExternalProject_Add(relay_openssl_build
  PREFIX ${relay_openssl_prefix}
  SOURCE_DIR ${relay_openssl_source}
  BINARY_DIR ${relay_openssl_prefix}/build
  INSTALL_DIR ${relay_openssl_install}
  DOWNLOAD_COMMAND ${CMAKE_CURRENT_LIST_DIR}/debian-source openssl ${relay_openssl_source}
  CONFIGURE_COMMAND perl <SOURCE_DIR>/Configure mingw64 --prefix=<INSTALL_DIR> --libdir=lib
    "CC=${relay_openssl_compiler}" AR=${CMAKE_AR} RANLIB=${CMAKE_RANLIB}
    RC=${CMAKE_RC_COMPILER} CFLAGS=-O2
    no-shared no-tests no-module no-engine no-dso no-legacy no-autoload-config
    no-makedepend no-idea no-camellia no-seed no-bf no-cast no-rc2 no-rc4
    no-rc5 no-md4 no-mdc2 no-whirlpool no-rmd160 no-sm2 no-sm3 no-sm4 no-aria no-gost no-srp
    no-psk no-cms no-cmp no-ts no-ct no-comp no-dtls no-ssl3 no-srtp no-sctp no-ec2m no-dsa
    no-rfc3779 no-siphash no-blake2 no-scrypt no-ocb no-siv no-ssl-trace no-nextprotoneg
  # Configure would put a Windows folder under the prefix: make is told it instead.
  BUILD_COMMAND make -j${relay_openssl_jobs} build_libs
    "OPENSSLDIR=C:/Program Files/Common Files/SSL"
  INSTALL_COMMAND make install_dev
  COMMAND ${CMAKE_COMMAND} -DIN=<SOURCE_DIR>/LICENSE.txt -DOUT=${relay_openssl_licence}
    -P ${CMAKE_SOURCE_DIR}/packaging/windows/windows_text.cmake
  BUILD_BYPRODUCTS ${relay_openssl_libraries}
  LOG_DOWNLOAD ON LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

# The two libraries and the system libraries that OpenSSL's build names for them, for
# the programs and for the session's own certificate check.
file(MAKE_DIRECTORY ${relay_openssl_install}/include)
add_library(relay_openssl INTERFACE IMPORTED GLOBAL)
set_target_properties(relay_openssl PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${relay_openssl_install}/include
  INTERFACE_LINK_LIBRARIES "${relay_openssl_libraries};ws2_32;gdi32;crypt32")
add_dependencies(relay_openssl relay_openssl_build)
