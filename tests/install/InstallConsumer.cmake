# Installs this build into PREFIX with cmake --install, checks that every installed piece is
# there, then configures, builds and runs the outside project CONSUMER_SOURCE against PREFIX
# alone: find_package(Lumetra) and Lumetra::core, with the headers as installed, must score
# ORIGINAL against DEGRADED to the measure of the installed command line (and, when the Python
# package is built, of the installed Python package).  Prints nothing unless a step fails.
#
# cmake -DBUILD_DIR=... -DPREFIX=... -DLIBDIR=... -DCONSUMER_SOURCE=... -DCONSUMER_BUILD=...
#       -DGENERATOR=... -DMAKE_PROGRAM=... -DCXX_COMPILER=... -DORIGINAL=... -DDEGRADED=...
#       -DWITH_GUI=ON|OFF -DWITH_PYTHON=ON|OFF [-DPYTHON=...] -P InstallConsumer.cmake

# Every front end prints the float measure with nine significant digits, which give a float
# back exactly, and runs the same library code on the same pair: the texts must be equal.  Any
# difference, even in the last digit, means the installed library computes something else.

# Runs a command; a failure ends the test with its output.  The standard output goes to OUT_VAR.
function(run_step what out_var)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
        ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${what} failed (${status}):\n${ARGN}\n${out}\n${err}")
    endif()
    set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

foreach(var BUILD_DIR PREFIX LIBDIR CONSUMER_SOURCE CONSUMER_BUILD GENERATOR CXX_COMPILER
            ORIGINAL DEGRADED)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "InstallConsumer.cmake needs -D${var}=...")
    endif()
endforeach()

# A fresh prefix and consumer build each run, so nothing of an earlier install counts.
file(REMOVE_RECURSE ${PREFIX} ${CONSUMER_BUILD})
run_step("cmake --install" unused ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

set(expected
    bin/lumetra
    ${LIBDIR}/liblumetra_core.a
    ${LIBDIR}/cmake/Lumetra/LumetraConfig.cmake
    ${LIBDIR}/cmake/Lumetra/LumetraConfigVersion.cmake
    ${LIBDIR}/cmake/Lumetra/LumetraTargets.cmake
    include/lumetra/engine/Lumetra2.h
    include/lumetra/image/RgbImage.h
    include/lumetra/fft/RealFft2d.h
    include/lumetra/model/ViewingGeometry.h
    include/lumetra/structure/Edges.h
    include/lumetra/args/CsvRow.h)
if(WITH_GUI)
    list(APPEND expected
        bin/lumetra-gui
        share/applications/lumetra-gui.desktop
        share/icons/hicolor/scalable/apps/lumetra.svg
        share/icons/hicolor/48x48/apps/lumetra.png)
endif()
if(WITH_PYTHON)
    list(APPEND expected lib/python3/dist-packages/lumetra/__init__.py)
endif()
foreach(file ${expected})
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "cmake --install left no ${PREFIX}/${file}")
    endif()
endforeach()

run_step("configuring the consumer" unused ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE}
    -B ${CONSUMER_BUILD} -G ${GENERATOR} -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
# The package found must be the one just installed, not one elsewhere on the machine.
file(STRINGS ${CONSUMER_BUILD}/CMakeCache.txt found_dir REGEX "^Lumetra_DIR:")
if(NOT found_dir STREQUAL "Lumetra_DIR:PATH=${PREFIX}/${LIBDIR}/cmake/Lumetra")
    message(FATAL_ERROR "the consumer found another Lumetra: ${found_dir}")
endif()
run_step("building the consumer" unused ${CMAKE_COMMAND} --build ${CONSUMER_BUILD})

run_step("the consumer" library_out ${CONSUMER_BUILD}/consumer ${ORIGINAL} ${DEGRADED})
string(STRIP "${library_out}" library_measure)
# JPEG at quality 50 leaves a visible, finite error: equal "nan"s would prove nothing.
if(NOT library_measure MATCHES "^[0-9]+(\\.[0-9]+)?$" OR library_measure EQUAL 0)
    message(FATAL_ERROR "the consumer printed no positive measure: ${library_out}")
endif()

run_step("the installed lumetra" cli_out ${PREFIX}/bin/lumetra --format csv ${ORIGINAL}
    ${DEGRADED})
# file,measure,score,error: the measure is the third field from the end of the row.
if(NOT cli_out MATCHES "\n[^\n]*,([^,\n]*),[^,\n]*,[^,\n]*\n?$")
    message(FATAL_ERROR "no measure in the command line's output:\n${cli_out}")
endif()
set(cli_measure ${CMAKE_MATCH_1})

set(measures "library ${library_measure}" "command line ${cli_measure}")
if(WITH_PYTHON)
    # The program's lines are parted by newlines: a semicolon would split the CMake argument.
    run_step("the installed Python package" python_out ${CMAKE_COMMAND} -E env
        PYTHONPATH=${PREFIX}/lib/python3/dist-packages PYTHONDONTWRITEBYTECODE=1
        ${PYTHON} -s -c
        "import sys, lumetra\nprint(lumetra.__file__)\nprint('%.9g' % lumetra.score(sys.argv[1], sys.argv[2]).measure)"
        ${ORIGINAL} ${DEGRADED})
    string(REGEX MATCHALL "[^\n]+" python_lines "${python_out}")
    list(GET python_lines 0 python_file)
    list(GET python_lines 1 python_measure)
    string(FIND "${python_file}" "${PREFIX}/" at)
    if(NOT at EQUAL 0)
        message(FATAL_ERROR "Python imported lumetra from ${python_file}, not from ${PREFIX}")
    endif()
    list(APPEND measures "Python ${python_measure}")
endif()
if(WITH_GUI)
    run_step("the installed lumetra-gui --version" unused ${CMAKE_COMMAND} -E env
        QT_QPA_PLATFORM=offscreen ${PREFIX}/bin/lumetra-gui --version)
endif()

list(JOIN measures ", " all_measures)
foreach(entry ${measures})
    string(REGEX REPLACE "^.* " "" measure "${entry}")
    if(NOT measure STREQUAL library_measure)
        message(FATAL_ERROR "the measures of ${ORIGINAL} and ${DEGRADED} differ: ${all_measures}")
    endif()
endforeach()
