# -DTNC_SANITIZE=ON builds everything, tests included, with AddressSanitizer
# and UndefinedBehaviorSanitizer. Any report ends the process, so a test that
# provokes one fails instead of printing a warning nobody reads. Conversions
# of out-of-range floats to integers are checked too (g++ leaves them out of
# "undefined"): the suppressor converts its output samples.
option(TNC_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(TNC_SANITIZE)
  set(TNC_SANITIZE_FLAGS -fsanitize=address,undefined,float-cast-overflow
                         -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)
  add_compile_options(${TNC_SANITIZE_FLAGS})
  add_link_options(${TNC_SANITIZE_FLAGS})
endif()

# -DTNC_FUZZ=ON (with clang) builds everything with libFuzzer's coverage and
# the same sanitizers, so that the fuzz targets in fuzz/ see the libraries'
# branches and every report ends the run.
option(TNC_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(TNC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TNC_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  set(TNC_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow
                     -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${TNC_FUZZ_FLAGS})
  add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()
