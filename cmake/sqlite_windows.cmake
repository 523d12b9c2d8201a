# SQLite, the event log's database, built with mingw-w64 from Debian's own source
# package of SQLite (cmake/debian-source), in <build>/sqlite/. SQLite's own configure and
# make, run for this machine (they need tclsh), write the amalgamation sqlite3.c and
# sqlite3.h; the amalgamation is then compiled for Windows into one static library.
# The steps are stamped there: a second build neither fetches nor compiles it again.
# Programs link the imported target relay_sqlite.
#
# Static, as the programs are linked (cmake/mingw-w64.cmake): no DLL to ship or to find.
# SQLite's own Windows file layer locks the database, so that the panel, relayctl.exe and
# the bridge write one log at once. No extensions are loaded: a DLL named by a database
# or planted beside it never runs.
include(ExternalProject)

set(relay_sqlite_prefix ${CMAKE_BINARY_DIR}/sqlite)
set(relay_sqlite_source ${relay_sqlite_prefix}/source)
set(relay_sqlite_build_dir ${relay_sqlite_prefix}/build)
set(relay_sqlite_library ${relay_sqlite_build_dir}/libsqlite3.a)
set(relay_sqlite_include ${relay_sqlite_prefix}/include)

set(relay_sqlite_compiler ${CMAKE_C_COMPILER_LAUNCHER} ${CMAKE_C_COMPILER})

ExternalProject_Add(relay_sqlite_build
  PREFIX ${relay_sqlite_prefix}
  SOURCE_DIR ${relay_sqlite_source}
  BINARY_DIR ${relay_sqlite_build_dir}
  DOWNLOAD_COMMAND ${CMAKE_CURRENT_LIST_DIR}/debian-source sqlite3 ${relay_sqlite_source}
  # For this machine: only the tools that write the amalgamation are built and run.
  CONFIGURE_COMMAND <SOURCE_DIR>/configure --disable-tcl --disable-readline --disable-shared
  BUILD_COMMAND make sqlite3.c
  COMMAND ${relay_sqlite_compiler} -O2 -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c -o sqlite3.o
  COMMAND ${CMAKE_AR} rcs ${relay_sqlite_library} sqlite3.o
  # The header alone, apart from the build's other generated headers.
  COMMAND ${CMAKE_COMMAND} -E copy sqlite3.h ${relay_sqlite_include}/sqlite3.h
  BUILD_BYPRODUCTS ${relay_sqlite_library}
  INSTALL_COMMAND ""
  LOG_DOWNLOAD ON LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

# The header folder is named before the header is there; CMake wants it to exist.
file(MAKE_DIRECTORY ${relay_sqlite_include})
add_library(relay_sqlite STATIC IMPORTED GLOBAL)
set_target_properties(relay_sqlite PROPERTIES
  IMPORTED_LOCATION ${relay_sqlite_library}
  INTERFACE_INCLUDE_DIRECTORIES ${relay_sqlite_include})
add_dependencies(relay_sqlite relay_sqlite_build)
