# Installs the build into a fresh prefix, then builds and runs a small consumer against it twice:
# through find_package(Trelis) and through pkg-config, and runs the installed program, which must
# find its media module. Fails on the first step that fails.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

run(${MAKE_DEMO} ${WORK_DIR}/demo)
run(${prefix}/${PROGRAM} -f ${WORK_DIR}/demo)
if(WITH_MEDIA)
  run(${prefix}/${PROGRAM} -f ${WORK_DIR}/demo -media all)
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)

file(GLOB_RECURSE pc_file ${prefix}/*/trelis.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs trelis OUTPUT_VARIABLE flags
                RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know trelis")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
set(libdirs ${flags})
list(FILTER libdirs INCLUDE REGEX "^-L")
list(TRANSFORM libdirs REPLACE "^-L" "-Wl,-rpath,")
run(${CXX} -std=c++17 ${CONSUMER_DIR}/main.cpp ${flags} ${libdirs} -o ${WORK_DIR}/pkgconfig_consumer)
run(${WORK_DIR}/pkgconfig_consumer)

# No run path holds an empty entry, which the loader reads as the current folder: neither the
# program's nor the Python module's, built or installed.
file(GLOB installed_module ${prefix}/${PYTHON_DIR}/trelis/*.so)
foreach(binary ${BUILT_PROGRAM} ${BUILT_MODULE} ${prefix}/${PROGRAM} ${installed_module})
  execute_process(COMMAND readelf -d ${binary} OUTPUT_VARIABLE dynamic)
  string(REGEX MATCH "runpath: \\[([^]]*)\\]" found "${dynamic}")
  set(runpath "${CMAKE_MATCH_1}")
  if(NOT found OR runpath MATCHES "(^|:)(:|$)")
    message(FATAL_ERROR "${binary}: no run path, or an empty entry in it: [${runpath}]")
  endif()
endforeach()

# The Python module, when built: Debian's python3 imports the installed package, which loads the
# installed library beside it rather than the build tree's.
if(PYTHON_DIR)
  set(check [=[
import sys, numpy, trelis
prefix = sys.argv[1]
assert trelis.__file__.startswith(prefix), trelis.__file__
assert len(trelis.fingerprint(numpy.sin(numpy.arange(16000) * 0.3), 8000)) > 0
maps = [line for line in open("/proc/self/maps") if "libtrelis.so" in line]
assert maps and all(prefix in line for line in maps), maps
]=])
  run(${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${PYTHON_DIR} /usr/bin/python3 -c "${check}"
      ${prefix})
endif()
