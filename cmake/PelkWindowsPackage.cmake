# The Windows installation: the programs with every DLL they load beside them (Qt, hidapi,
# libsodium, libarchive, mingw-w64's C++ runtime) and Qt's platform plug-ins in platforms/, and its NSIS
# installer (cpack -G NSIS) with a Start-menu entry and an uninstaller. Included by
# cmake/PelkPackage.cmake on Windows.

# Qt's DLLs are the imported targets' own files; its platform plug-ins go to platforms/, where
# Qt looks beside the program.
set(pelk_qt_dlls)
foreach(module Core Gui Widgets Network Xml)
  list(APPEND pelk_qt_dlls $<TARGET_FILE:Qt5::${module}>)
endforeach()
install(FILES ${pelk_qt_dlls} DESTINATION bin)
foreach(plugin QWindowsIntegrationPlugin QOffscreenIntegrationPlugin QMinimalIntegrationPlugin)
  if(TARGET Qt5::${plugin})
    install(FILES $<TARGET_FILE:Qt5::${plugin}> DESTINATION bin/platforms)
  endif()
endforeach()

# hidapi, libsodium and libarchive keep their DLLs in bin/ beside lib/ and include/.
get_filename_component(pelk_hidapi_prefix "${PELK_HIDAPI_INCLUDE_DIR}" DIRECTORY)
get_filename_component(pelk_sodium_prefix "${PELK_SODIUM_INCLUDE_DIR}" DIRECTORY)
get_filename_component(pelk_archive_prefix "${PELK_ARCHIVE_INCLUDE_DIR}" DIRECTORY)
if(pelk_hidapi_prefix MATCHES "/include$")
  get_filename_component(pelk_hidapi_prefix "${pelk_hidapi_prefix}" DIRECTORY)
endif()
find_file(PELK_HIDAPI_DLL NAMES libhidapi.dll hidapi.dll PATHS ${pelk_hidapi_prefix}/bin NO_DEFAULT_PATH REQUIRED)
find_file(PELK_SODIUM_DLL NAMES libsodium-23.dll libsodium.dll PATHS ${pelk_sodium_prefix}/bin NO_DEFAULT_PATH
          REQUIRED)
find_file(PELK_ARCHIVE_DLL NAMES libarchive.dll PATHS ${pelk_archive_prefix}/bin NO_DEFAULT_PATH REQUIRED)

# The compiler's runtime, where the compiler says it keeps it.
set(pelk_runtime_dlls ${PELK_HIDAPI_DLL} ${PELK_SODIUM_DLL} ${PELK_ARCHIVE_DLL})
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE pelk_dll
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${pelk_dll}")
    find_file(pelk_dll_${dll} ${dll} PATHS /usr/${PELK_MINGW_TRIPLET}/lib NO_DEFAULT_PATH REQUIRED)
    set(pelk_dll ${pelk_dll_${dll}})
  endif()
  list(APPEND pelk_runtime_dlls ${pelk_dll})
endforeach()
install(FILES ${pelk_runtime_dlls} DESTINATION bin)
# The folders a program of the build tree needs on its DLL path (WINEPATH under Wine).
set(pelk_runtime_dirs)
foreach(dll ${pelk_runtime_dlls})
  get_filename_component(dir "${dll}" DIRECTORY)
  list(APPEND pelk_runtime_dirs ${dir})
endforeach()
list(REMOVE_DUPLICATES pelk_runtime_dirs)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/windows-runtime-path.txt
     CONTENT "$<TARGET_FILE_DIR:Qt5::Core>;${pelk_runtime_dirs}\n")

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME PelkUpdater)
set(CPACK_PACKAGE_VENDOR Quellor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware and sound data updater for the Quellor Pelk and Pelk+")
set(CPACK_PACKAGE_FILE_NAME PelkUpdater-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quellor\\\\Pelk Updater")
set(CPACK_NSIS_PACKAGE_NAME "Pelk Updater")
set(CPACK_NSIS_DISPLAY_NAME "Pelk Updater ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer and uninstaller, as the programs they carry: no 32-bit subsystem is needed to
# run them (Wine's 32-bit half included).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# One Start-menu entry for the window; the uninstaller is in the system's list of programs.
set(CPACK_PACKAGE_EXECUTABLES pelk-updater "Pelk Updater")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY bin)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
