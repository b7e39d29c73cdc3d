# Windows executables of ours carry a manifest that makes UTF-8 their ANSI
# code page (Windows 10 1903 and later), so that text passed through the
# narrow Windows and C runtime calls is UTF-8 as it is on Linux.
set(USBKEY_WINDOWS_MANIFEST "${CMAKE_CURRENT_LIST_DIR}/utf8.manifest")
if(WIN32 AND NOT MSVC)
  enable_language(RC)
endif()

function(usbkey_windows_manifest target)
  if(NOT WIN32)
    return()
  endif()
  if(MSVC)
    target_sources(${target} PRIVATE "${USBKEY_WINDOWS_MANIFEST}")
  else()
    # mingw links no manifest of its own: embed ours as resource 1 of type 24 (RT_MANIFEST).
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}-manifest.rc")
    file(CONFIGURE OUTPUT "${rc}" CONTENT "1 24 \"${USBKEY_WINDOWS_MANIFEST}\"\n") # rewritten only when it changes
    target_sources(${target} PRIVATE "${rc}")
  endif()
endfunction()
