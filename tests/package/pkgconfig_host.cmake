# Builds the package host a second time as a host without CMake would:
# compiler and linker flags from pkg-config --cflags --libs tools, with only
# the installed folder's lib/pkgconfig on pkg-config's path.
#   cmake -DCXX=... -DPREFIX=... -DSOURCE=... -DOUTPUT=... -P pkgconfig_host.cmake
# Built again only when the source or the installed package changed.
set(inputs ${SOURCE} ${PREFIX}/lib/pkgconfig/tools.pc ${PREFIX}/lib/libtools.dll.a)
set(stale FALSE)
foreach(input ${inputs})
  if(NOT EXISTS ${OUTPUT} OR ${input} IS_NEWER_THAN ${OUTPUT})
    set(stale TRUE)
  endif()
endforeach()
if(NOT stale)
  return()
endif()

set(ENV{PKG_CONFIG_LIBDIR} ${PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
execute_process(COMMAND pkg-config --cflags --libs tools
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "pkg-config does not know tools in ${PREFIX}/lib/pkgconfig")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND ${CXX} -std=c++17 -O1 -g -o ${OUTPUT} ${SOURCE} ${flags} -lgdi32 -luser32 -luuid
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the host did not build with pkg-config's flags: ${flags}")
endif()
