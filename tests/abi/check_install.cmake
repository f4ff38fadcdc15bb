# Installs the build into a scratch prefix and checks that the library, its
# header, the pkg-config file and the CMake package land there, and that the
# pkg-config file points into that prefix. Run with
#   cmake -DBUILD_DIR=<build> -DPREFIX=<scratch> -DLIBDIR=<libdir> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE install_result OUTPUT_QUIET)
if(NOT install_result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()

set(expected
  include/tesvar.h
  ${LIBDIR}/libtesvar.so
  ${LIBDIR}/libtesvar.so.1
  ${LIBDIR}/pkgconfig/tesvar.pc
  ${LIBDIR}/cmake/tesvar/tesvarConfig.cmake
  ${LIBDIR}/cmake/tesvar/tesvarConfigVersion.cmake
  ${LIBDIR}/cmake/tesvar/tesvarTargets.cmake)
foreach(file IN LISTS expected)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
execute_process(COMMAND ${PKG_CONFIG} --variable=includedir tesvar
  OUTPUT_VARIABLE includedir OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REAL_PATH "${includedir}" includedir)
file(REAL_PATH "${PREFIX}/include" wanted)
if(NOT includedir STREQUAL wanted)
  message(FATAL_ERROR "pkg-config includedir ${includedir}, want ${wanted}")
endif()
file(REMOVE_RECURSE ${PREFIX})
