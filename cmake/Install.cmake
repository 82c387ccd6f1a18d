# Shared core library, install rules and the CMake and pkg-config packages.
# Included from the top-level CMakeLists.txt after the core, the WAV module
# and test_wav are defined.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(TARNWELNC_INSTALL "Generate the install rules of TarnwelNC" ${PROJECT_IS_TOP_LEVEL})

# A platform without shared libraries (WebAssembly) has the static core and
# the WAV module alone, and no install tree: its package is built in js/.
get_property(_tarnwelnc_shared_libs GLOBAL PROPERTY TARGET_SUPPORTS_SHARED_LIBS)
if(NOT _tarnwelnc_shared_libs)
  add_library(TarnwelNC::core ALIAS tarnwelnc_core)
  add_library(TarnwelNC::wav ALIAS tarnwelnc_wav)
  return()
endif()

# ----------------------------------------------------------- shared core
# Built from the static core's own sources and options, so the two cannot
# drift apart. Only what the public headers mark TARNWELNC_API is exported;
# the core needs no C++ runtime, so it is linked as C and must resolve
# everything at link time.
get_target_property(_tarnwelnc_core_sources tarnwelnc_core SOURCES)
get_target_property(_tarnwelnc_core_options tarnwelnc_core COMPILE_OPTIONS)
get_target_property(_tarnwelnc_core_defines tarnwelnc_core COMPILE_DEFINITIONS)
add_library(tarnwelnc_shared SHARED ${_tarnwelnc_core_sources})
target_compile_options(tarnwelnc_shared PRIVATE ${_tarnwelnc_core_options})
if(_tarnwelnc_core_defines)
  target_compile_definitions(tarnwelnc_shared PRIVATE ${_tarnwelnc_core_defines})
endif()
target_include_directories(tarnwelnc_shared
                           PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Src
                           PUBLIC $<BUILD_INTERFACE:${TNC_PUBLIC_INCLUDE}>)
target_compile_definitions(tarnwelnc_shared PRIVATE TARNWELNC_BUILDING_DLL)
target_link_libraries(tarnwelnc_shared PRIVATE m)
target_link_options(tarnwelnc_shared PRIVATE LINKER:--no-undefined)
set_target_properties(tarnwelnc_shared PROPERTIES
                      OUTPUT_NAME tarnwelnc
                      VERSION ${PROJECT_VERSION}
                      SOVERSION ${PROJECT_VERSION_MAJOR}
                      LINKER_LANGUAGE C)

# Internal symbols stay out of the dynamic symbol table, and out of any
# shared object a host builds from the static archive.
foreach(_lib tarnwelnc_core tarnwelnc_shared)
  set_target_properties(${_lib} PROPERTIES C_VISIBILITY_PRESET hidden
                                           CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
endforeach()

# Installed headers sit in one folder and include each other by plain
# names, so hosts add include/tarnwelnc to their search path.
set(TARNWELNC_INCLUDE_SUBDIR ${CMAKE_INSTALL_INCLUDEDIR}/tarnwelnc)
foreach(_lib tarnwelnc_core tarnwelnc_shared tarnwelnc_wav)
  target_include_directories(${_lib} INTERFACE $<INSTALL_INTERFACE:${TARNWELNC_INCLUDE_SUBDIR}>)
endforeach()

# The same names in a build tree (add_subdirectory, FetchContent) as in the
# installed package.
set_target_properties(tarnwelnc_core PROPERTIES EXPORT_NAME core)
set_target_properties(tarnwelnc_shared PROPERTIES EXPORT_NAME core_shared)
set_target_properties(tarnwelnc_wav PROPERTIES EXPORT_NAME wav)
add_library(TarnwelNC::core ALIAS tarnwelnc_core)
add_library(TarnwelNC::core_shared ALIAS tarnwelnc_shared)
add_library(TarnwelNC::wav ALIAS tarnwelnc_wav)

if(NOT TARNWELNC_INSTALL)
  return()
endif()

# ------------------------------------------------------------- install
install(TARGETS tarnwelnc_core tarnwelnc_shared tarnwelnc_wav
        EXPORT TarnwelNCTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS test_wav RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The generated tables' headers are internal.
install(FILES ${TNC_PUBLIC_HEADERS} tools_sdk/wav.h tools_sdk/wav_stream.h
        DESTINATION ${TARNWELNC_INCLUDE_SUBDIR})
install(FILES docs/test_wav.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(TARNWELNC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TarnwelNC)
install(EXPORT TarnwelNCTargets NAMESPACE TarnwelNC:: DESTINATION ${TARNWELNC_CMAKE_DIR})
configure_package_config_file(cmake/TarnwelNCConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/TarnwelNCConfig.cmake
                              INSTALL_DESTINATION ${TARNWELNC_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TarnwelNCConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TarnwelNCConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/TarnwelNCConfigVersion.cmake
        DESTINATION ${TARNWELNC_CMAKE_DIR})

# pkg-config files locate the prefix from their own folder, so the tree
# may be installed anywhere (cmake --install --prefix ...).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TARNWELNC_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TARNWELNC_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(TARNWELNC_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(TARNWELNC_PC_PREFIX "\${pcfiledir}/${_up}")
  set(TARNWELNC_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(TARNWELNC_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
foreach(_pc tarnwelnc tarnwelnc-wav)
  configure_file(cmake/${_pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# An archive of the install tree: `cpack` in the build folder. On Windows a
# ZIP to unpack anywhere: bin/test_wav.exe and libtarnwelnc.dll (the C and
# C++ runtime linked in), the plugins under "Common Files/VST3" and
# "Common Files/CLAP", the folders hosts search under Program Files.
set(CPACK_PACKAGE_NAME tarnwelnc)
set(CPACK_PACKAGE_VENDOR TarnwelNC)
set(CPACK_PACKAGE_FILE_NAME tarnwelnc-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
