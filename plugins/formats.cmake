# The CLAP and VST3 plugins: one module each, on the plugin APIs' C headers
# that Debian's dpf-source carries (CLAP 1.1, and VST3's C interface). Each
# links the static core and exports its entry points alone.
find_path(TNC_CLAP_INCLUDE_DIR clap/entry.h PATHS /usr/share/dpf/distrho/src NO_CMAKE_FIND_ROOT_PATH)
if(NOT TNC_CLAP_INCLUDE_DIR)
  message(STATUS "CLAP and VST3 plugins not built: they need the headers of "
                 "/usr/share/dpf/distrho/src (Debian: apt-get install dpf-source)")
  return()
endif()

if(WIN32)
  set(TNC_CLAP_DIR "Common Files/CLAP" CACHE STRING "Install folder of the CLAP plugin, under the prefix")
  set(TNC_VST3_DIR "Common Files/VST3" CACHE STRING "Install folder of the VST3 bundle, under the prefix")
else()
  set(TNC_CLAP_DIR lib/clap CACHE STRING "Install folder of the CLAP plugin, under the prefix")
  set(TNC_VST3_DIR lib/vst3 CACHE STRING "Install folder of the VST3 bundle, under the prefix")
endif()

# Hosts load the modules into their own process: no exceptions, no C++
# runtime, the core's symbols kept inside.
function(tnc_plugin_module target)
  target_include_directories(${target} PRIVATE ${TNC_CLAP_INCLUDE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE tarnwelnc_core)
  target_compile_definitions(${target} PRIVATE TNC_VERSION="${PROJECT_VERSION}")
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  target_link_options(${target} PRIVATE LINKER:--no-undefined LINKER:--exclude-libs,ALL)
  set_target_properties(${target} PROPERTIES PREFIX "" LINKER_LANGUAGE C
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

add_library(tarnwelnc_clap MODULE clap.cpp)
tnc_plugin_module(tarnwelnc_clap)
set_target_properties(tarnwelnc_clap PROPERTIES OUTPUT_NAME tarnwelnc SUFFIX .clap
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/clap)
if(TARNWELNC_INSTALL)
  install(TARGETS tarnwelnc_clap LIBRARY DESTINATION ${TNC_CLAP_DIR})
endif()

# The VST3 bundle: tarnwelnc.vst3/Contents/<architecture>/, the module named
# after the bundle (.so on Linux, .vst3 on Windows).
if(WIN32)
  set(_vst3_arch x86_64-win)
  set(_vst3_suffix .vst3)
else()
  set(_vst3_arch ${CMAKE_SYSTEM_PROCESSOR}-linux)
  set(_vst3_suffix .so)
endif()
set(TNC_VST3_BUNDLE ${CMAKE_CURRENT_BINARY_DIR}/vst3/tarnwelnc.vst3 CACHE INTERNAL "The VST3 bundle in the build tree")
add_library(tarnwelnc_vst3 MODULE vst3.cpp)
tnc_plugin_module(tarnwelnc_vst3)
set_target_properties(tarnwelnc_vst3 PROPERTIES OUTPUT_NAME tarnwelnc SUFFIX ${_vst3_suffix}
                      LIBRARY_OUTPUT_DIRECTORY ${TNC_VST3_BUNDLE}/Contents/${_vst3_arch})
if(TARNWELNC_INSTALL)
  install(TARGETS tarnwelnc_vst3 LIBRARY DESTINATION ${TNC_VST3_DIR}/tarnwelnc.vst3/Contents/${_vst3_arch})
endif()
