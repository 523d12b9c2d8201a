# The Windows resources of a program: its version block (what Explorer shows under
# Properties > Details), the panel's icon, and optionally an application manifest.
#
#   relay_windows_resources(<target> DESCRIPTION "<text>" [MANIFEST <file>])
#
# writes one <target>.rc into the current build folder and compiles it into the target.
# The icon, packaging/windows/relay_panel.ico, was drawn once from the window's icon:
#   for s in 16 32 48 256; do rsvg-convert -w $s -h $s apps/relay_panel/icons/two_cogs.svg -o $s.png; done
#   icotool -c -o packaging/windows/relay_panel.ico 16.png 32.png 48.png -r 256.png
# (librsvg2-bin, icoutils; the 256 px image is stored as PNG, as Windows expects).
enable_language(RC)

set(RELAY_WINDOWS_ICON ${CMAKE_CURRENT_LIST_DIR}/../packaging/windows/relay_panel.ico)
cmake_path(NORMAL_PATH RELAY_WINDOWS_ICON)

# Text in double quotes for the resource compiler: a quote is written twice.
function(_relay_rc_string out text)
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

function(relay_windows_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION;MANIFEST" "")
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "relay_windows_resources(${target}): DESCRIPTION is missing")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "relay_windows_resources(${target}): unknown ${arg_UNPARSED_ARGUMENTS}")
  endif()

  # Four numbers for the binary version fields: major, minor, patch, 0.
  set(numbers ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} 0)
  list(TRANSFORM numbers REPLACE "^$" "0")
  list(JOIN numbers "," binary_version)

  _relay_rc_string(description "${arg_DESCRIPTION}")
  _relay_rc_string(version "${PROJECT_VERSION}")
  _relay_rc_string(icon "${RELAY_WINDOWS_ICON}")
  set(manifest_line "")
  set(depends ${RELAY_WINDOWS_ICON})
  if(arg_MANIFEST)
    cmake_path(ABSOLUTE_PATH arg_MANIFEST BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    _relay_rc_string(manifest "${arg_MANIFEST}")
    set(manifest_line "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST ${manifest}\n")
    list(APPEND depends ${arg_MANIFEST})
  endif()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  file(GENERATE OUTPUT ${rc} CONTENT "#include <windows.h>

1 ICON ${icon}
${manifest_line}
VS_VERSION_INFO VERSIONINFO
FILEVERSION ${binary_version}
PRODUCTVERSION ${binary_version}
FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
FILEFLAGS 0
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_APP
FILESUBTYPE VFT2_UNKNOWN
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904B0\"
    BEGIN
      VALUE \"CompanyName\", \"The relay panel developers\"
      VALUE \"FileDescription\", ${description}
      VALUE \"FileVersion\", ${version}
      VALUE \"InternalName\", \"$<TARGET_FILE_BASE_NAME:${target}>\"
      VALUE \"LegalCopyright\", \"MIT License\"
      VALUE \"OriginalFilename\", \"$<TARGET_FILE_NAME:${target}>\"
      VALUE \"ProductName\", \"Relay panel\"
      VALUE \"ProductVersion\", ${version}
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
")
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler reads the icon and the manifest: a change to either rebuilds.
  set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES
    GENERATED TRUE OBJECT_DEPENDS "${depends}")
endfunction()
