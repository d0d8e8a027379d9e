# What cmake --install puts under its prefix, by component, and the Debian packages cpack -G DEB
# makes of them (scripts/package):
#   runtime (package lumetra):
#     bin/lumetra, bin/lumetra-gui                               (src/cli, src/app)
#     share/applications/lumetra-gui.desktop, share/icons/hicolor (src/app)
#     lib/python3/dist-packages/lumetra                           (python/)
#     share/man/man1/lumetra.1.gz, lumetra-gui.1.gz               (here, with help2man)
#   dev (package lumetra-dev):
#     include/lumetra/<subsystem>/*.h                             (src/)
#     LIBDIR/liblumetra_core.a and LIBDIR/cmake/Lumetra           (here)
# An outside project then writes find_package(Lumetra) and links Lumetra::core.
include(CMakePackageConfigHelpers)

set(LUMETRA_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lumetra)

set_target_properties(lumetra_core PROPERTIES EXPORT_NAME core)
# The library's objects were built with the sanitizers: whatever links it needs their runtime.
if(LUMETRA_SANITIZE)
    target_link_options(lumetra_core INTERFACE
        $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
endif()
install(TARGETS lumetra_core EXPORT LumetraTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT dev)
install(EXPORT LumetraTargets NAMESPACE Lumetra:: DESTINATION ${LUMETRA_CMAKE_INSTALL_DIR}
    COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LumetraConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/LumetraConfig.cmake
    INSTALL_DESTINATION ${LUMETRA_CMAKE_INSTALL_DIR})
# 0.x: a minor version may change the interface, so only the same major.minor is compatible.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/LumetraConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/LumetraConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/LumetraConfigVersion.cmake
    DESTINATION ${LUMETRA_CMAKE_INSTALL_DIR} COMPONENT dev)

# The time of the source's last commit when known (else the configure time): the date of the
# manual pages and of the Debian changelog, so that every build of one source makes the same
# files.
execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE LUMETRA_SOURCE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET RESULT_VARIABLE git_failed)
if(git_failed OR NOT LUMETRA_SOURCE_EPOCH)
    string(TIMESTAMP LUMETRA_SOURCE_EPOCH "%s" UTC)
endif()
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${LUMETRA_SOURCE_EPOCH})
string(TIMESTAMP LUMETRA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")

# Manual pages of the programs, made from their --help and --version by help2man whenever the
# programs change, so that they never drift from them.  The window's program answers
# --help without a display (Qt's offscreen platform).
find_program(LUMETRA_HELP2MAN help2man)
find_program(LUMETRA_GZIP gzip)
set(LUMETRA_MAN_SUMMARY_lumetra "score degraded images by how visible their differences are")
set(LUMETRA_MAN_SUMMARY_lumetra-gui "compare degraded images with their original and see where the differences are visible")
set(man_pages)
foreach(program lumetra lumetra-gui)
    if(TARGET ${program} AND LUMETRA_HELP2MAN AND LUMETRA_GZIP)
        set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
            # Only standard output: what Qt notes on standard error is no part of the help.
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                SOURCE_DATE_EPOCH=${LUMETRA_SOURCE_EPOCH} ${LUMETRA_HELP2MAN} --no-info
                --name=${LUMETRA_MAN_SUMMARY_${program}} --output=${page} $<TARGET_FILE:${program}>
            # -n: no name or time in the header, so that the page is the same on every build.
            COMMAND ${LUMETRA_GZIP} -9nf ${page}
            DEPENDS ${program}
            VERBATIM)
        list(APPEND man_pages ${page}.gz)
    endif()
endforeach()
# Made on request (scripts/package builds the target), not by every build: the sanitizer trees'
# programs need not run at build time.  Installed when made.
if(man_pages)
    add_custom_target(lumetra_man_pages DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime
        OPTIONAL)
endif()

# The Debian packages: the runtime component as lumetra, the dev component as lumetra-dev,
# each with its copyright file and changelog (scripts/package builds them hardened).
set(lumetra_maintainer "Lumetra maintainers <lumetra-maintainers@lumetra-project.org>")
set(LUMETRA_PACKAGE_MAINTAINER "${lumetra_maintainer}"
    CACHE STRING "The Maintainer field of the Debian packages")
# Build trees configured before the project had a maintainer address cached a local one, which
# the package check refuses; such a tree takes the project's address.
if(LUMETRA_PACKAGE_MAINTAINER MATCHES "@localhost>$")
    set(LUMETRA_PACKAGE_MAINTAINER "${lumetra_maintainer}"
        CACHE STRING "The Maintainer field of the Debian packages" FORCE)
endif()
set(LUMETRA_LICENSE "other" CACHE STRING
    "The licence of Lumetra's own files, as the Debian copyright file names it")
set(LUMETRA_LICENSE_TEXT " All rights reserved by the Lumetra developers." CACHE STRING
    "The licence's text in the Debian copyright file (each line indented by one space)")
set(debian_docs ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${debian_docs}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${debian_docs}/changelog @ONLY)
if(LUMETRA_GZIP)
    execute_process(COMMAND ${LUMETRA_GZIP} -9nf ${debian_docs}/changelog)
    foreach(component_package runtime:lumetra dev:lumetra-dev)
        string(REPLACE ":" ";" pair ${component_package})
        list(GET pair 0 component)
        list(GET pair 1 package)
        install(FILES ${debian_docs}/copyright ${debian_docs}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    endforeach()
endif()

set(CPACK_PACKAGE_NAME lumetra)
set(CPACK_PACKAGE_VENDOR Lumetra)
set(CPACK_PACKAGE_CONTACT ${LUMETRA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LUMETRA_PACKAGE_MAINTAINER})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME lumetra)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME lumetra-dev)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# Debian's descriptions: each component's own summary line (no CPACK_PACKAGE_DESCRIPTION_SUMMARY,
# which cpack would put before both), then lines under 80 columns, as written here.
string(JOIN "\n" lumetra_about
    "Lumetra passes a colour image and degraded versions of it through a model of"
    "early human vision (opponent colours, contrast sensitivity, cortex-like"
    "frequency bands, masking, edge structure) and reports for each degraded file"
    "a pooled visible-error measure (lower is better), a 1-5 quality score (higher"
    "is better) and a per-pixel error map.")
string(JOIN "\n" CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "predicts how visible image degradations are to a human observer"
    "${lumetra_about}"
    ""
    "This package holds the command line lumetra, the desktop program lumetra-gui"
    "and the Python package lumetra (with its batch, fit and validate commands).")
string(JOIN "\n" CPACK_COMPONENT_DEV_DESCRIPTION
    "static library and headers of Lumetra, an image visibility model"
    "${lumetra_about}"
    ""
    "This package holds the static library lumetra_core with its headers and CMake"
    "package (find_package(Lumetra), target Lumetra::core).")
# The programs' and the Python module's shared libraries, found by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# The programs and the Python module are stripped.  Built with debugging information (-g, as
# scripts/package builds them), it goes to the package lumetra-dbgsym (under
# /usr/lib/debug/.build-id, found by the debuggers through the binaries' build IDs): cpack's
# Debian generator splits it off and strips them, on files cpack has not stripped before, and
# FixDebugPackage.cmake completes the package it makes.  Built without (the release tree
# scripts/test packages), there is no such package and StripStaged.cmake strips them.  The
# static library loses its debugging information but keeps its symbols (StripStaged.cmake).
string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
if(" ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type}} " MATCHES " -g[123]? ")
    set(CPACK_DEBIAN_RUNTIME_DEBUGINFO_PACKAGE ON)
    set(CPACK_LUMETRA_STRIP_BINARIES OFF)
else()
    set(CPACK_DEBIAN_RUNTIME_DEBUGINFO_PACKAGE OFF)
    set(CPACK_LUMETRA_STRIP_BINARIES ON)
endif()
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/StripStaged.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/FixDebugPackage.cmake)
# Byte-compiled on installation and cleaned on removal, as Debian's Python packages are.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(LUMETRA_BUILD_PYTHON)
    # The binding is built for one Python minor version; the rest is what lumetra's modules
    # need: NumPy everywhere, pandas and dask.distributed for the batch, SciPy for fit and
    # validate (which say so in one line without it); plots (validate --plot, matplotlib) and
    # the PSNR and SSIM beside the measure (validate --compare, scikit-image) are recommended.
    math(EXPR python_next_minor "${Python_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
        "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}), python3 (<< ${Python_VERSION_MAJOR}.${python_next_minor}), python3-numpy, python3-pandas, python3-dask, python3-distributed, python3-scipy")
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "python3-matplotlib, python3-skimage")
endif()
# Building against the library: the headers of FFTW and oneTBB, which its own headers include,
# and the libraries the static core links, which its CMake package finds with pkg-config.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libfftw3-dev, libtbb-dev, libpng-dev, libjpeg-dev, libnetpbm-dev, libstb-dev, libsleef-dev, libwebp-dev, libtiff-dev, liblcms2-dev, libavif-dev, libjxl-dev, pkg-config")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "cmake")
include(CPack)
