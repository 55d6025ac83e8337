# Installation and packaging for integrators.
#
# `cmake --install` puts in place: the SDK headers (include/norvane), the plug-in
# (lib/norvane/vantrel_capture.so, or bin/vantrel_capture.dll on Windows), the tools, a CMake
# package (`find_package(norvane)` gives `norvane::sdk`, an interface target for the headers, and
# `norvane::plugin`, the plug-in module) and a pkg-config file (`norvane.pc`, with the plug-in's
# folder as the variable `plugindir`). On Windows the import library of the plug-in (made from its
# export list) and the plain-C host example are installed too, and CPack makes the SDK archive.

# The headers as their own target, for the package.
add_library(norvane_sdk INTERFACE)
add_library(norvane::sdk ALIAS norvane_sdk)
target_include_directories(norvane_sdk INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(norvane_sdk PROPERTIES EXPORT_NAME sdk)
set_target_properties(vantrel_capture PROPERTIES EXPORT_NAME plugin)

if(WIN32)
    set(NORVANE_PLUGIN_DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
    set(NORVANE_PLUGIN_DESTINATION ${CMAKE_INSTALL_LIBDIR}/norvane)
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/norvane
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sdk)
install(TARGETS norvane_sdk EXPORT norvaneTargets COMPONENT sdk)
install(TARGETS vantrel_capture EXPORT norvaneTargets
    LIBRARY DESTINATION ${NORVANE_PLUGIN_DESTINATION} COMPONENT plugin
    RUNTIME DESTINATION ${NORVANE_PLUGIN_DESTINATION} COMPONENT plugin)
if(TARGET vantrel-capture)
    install(TARGETS vantrel-capture vantrel-camera-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT tools)
endif()

set(NORVANE_CMAKE_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/norvane)
install(EXPORT norvaneTargets NAMESPACE norvane:: DESTINATION ${NORVANE_CMAKE_DESTINATION}
    COMPONENT sdk)
include(CMakePackageConfigHelpers)
file(WRITE ${PROJECT_BINARY_DIR}/norvaneConfig.cmake.in [=[
@PACKAGE_INIT@
# norvane::sdk: the host SDK headers; norvane::plugin: the capture-driver plug-in module.
include("${CMAKE_CURRENT_LIST_DIR}/norvaneTargets.cmake")
check_required_components(norvane)
]=])
configure_package_config_file(${PROJECT_BINARY_DIR}/norvaneConfig.cmake.in
    ${PROJECT_BINARY_DIR}/norvaneConfig.cmake INSTALL_DESTINATION ${NORVANE_CMAKE_DESTINATION})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/norvaneConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/norvaneConfig.cmake
    ${PROJECT_BINARY_DIR}/norvaneConfigVersion.cmake
    DESTINATION ${NORVANE_CMAKE_DESTINATION} COMPONENT sdk)

# pkg-config: the compile flags of the headers and where the plug-in is.
file(WRITE ${PROJECT_BINARY_DIR}/norvane.pc.in [=[
prefix=${pcfiledir}/../..
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@
plugindir=${prefix}/@NORVANE_PLUGIN_DESTINATION@

Name: norvane
Description: Host SDK of the Vantrel capture-driver plug-in (@PROJECT_DESCRIPTION@)
Version: @PROJECT_VERSION@
Cflags: -I${includedir}
]=])
configure_file(${PROJECT_BINARY_DIR}/norvane.pc.in ${PROJECT_BINARY_DIR}/norvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/norvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT sdk)

if(WIN32)
    # Hosts built with Microsoft's tools link an import library; the module has no other.
    set(import_library ${PROJECT_BINARY_DIR}/vantrel_capture.lib)
    add_custom_command(OUTPUT ${import_library}
        COMMAND ${NORVANE_MINGW_TRIPLE}-dlltool
                -d ${PROJECT_SOURCE_DIR}/src/plugin/vantrel_capture.def
                -D vantrel_capture.dll -l ${import_library}
        DEPENDS ${PROJECT_SOURCE_DIR}/src/plugin/vantrel_capture.def
        COMMENT "Import library of vantrel_capture.dll"
        VERBATIM)
    add_custom_target(vantrel_capture_import_library ALL DEPENDS ${import_library})
    install(FILES ${import_library} ${PROJECT_SOURCE_DIR}/src/plugin/vantrel_capture.def
        DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sdk)
    install(FILES ${PROJECT_SOURCE_DIR}/tests/windows/c_host.c
        DESTINATION examples COMPONENT sdk)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME norvane-vantrel-capture-sdk)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME win64)
    else()
        set(CPACK_SYSTEM_NAME win32)
    endif()
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
    set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
    include(CPack)
endif()
