# Installs the built engine into a scratch prefix and builds a program outside
# the tree against it twice: through find_package(Orvex) and through
# pkg-config. Both programs must run.
#   cmake -DBUILD_DIR=… -DSOURCE_DIR=… -DWORK_DIR=… -DCXX=… -P InstalledPackageTest.cmake
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(LAST_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(file lib/libvekrun.so include/orvex/dataset/vekDatabase.h
             lib/cmake/Orvex/OrvexConfig.cmake lib/pkgconfig/orvex.pc)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(GLOB sonames ${prefix}/lib/libvekrun.so.*)
if(NOT sonames)
  message(FATAL_ERROR "libvekrun.so has no versioned name")
endif()

# find_package(Orvex)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${WORK_DIR}/cmake-build
    -G Ninja -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
file(MAKE_DIRECTORY ${WORK_DIR}/data1)
run(${WORK_DIR}/cmake-build/orvex_consumer ${WORK_DIR}/data1)
if(NOT LAST_OUTPUT MATCHES "4 parts; part 102 is washer" OR NOT LAST_OUTPUT MATCHES "parts after 101 by name: spring washer")
  message(FATAL_ERROR "unexpected output: ${LAST_OUTPUT}")
endif()

# pkg-config
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(${PKG_CONFIG} --cflags --libs orvex)
string(STRIP "${LAST_OUTPUT}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} ${SOURCE_DIR}/examples/consumer/main.cpp ${flags}
    -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/pc-consumer)
file(MAKE_DIRECTORY ${WORK_DIR}/data2)
run(${WORK_DIR}/pc-consumer ${WORK_DIR}/data2)
message(STATUS "${LAST_OUTPUT}")
