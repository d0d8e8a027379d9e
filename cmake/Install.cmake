# What cmake --install puts under its prefix, and the Debian package cpack -G DEB makes of it:
#   bin/lumetra, bin/lumetra-gui                               (src/cli, src/app)
#   share/applications/lumetra-gui.desktop, share/icons/hicolor (src/app)
#   lib/python3/dist-packages/lumetra                           (python/)
#   include/lumetra/<subsystem>/*.h                             (src/)
#   LIBDIR/liblumetra_core.a and LIBDIR/cmake/Lumetra           (here)
# An outside project then writes find_package(Lumetra) and links Lumetra::core.
include(CMakePackageConfigHelpers)

set(LUMETRA_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lumetra)

set_target_properties(lumetra_core PROPERTIES EXPORT_NAME core)
# The library's objects were built with the sanitizers: whatever links it needs their runtime.
if(LUMETRA_SANITIZE)
    target_link_options(lumetra_core INTERFACE
        $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
endif()
install(TARGETS lumetra_core EXPORT LumetraTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT LumetraTargets NAMESPACE Lumetra:: DESTINATION ${LUMETRA_CMAKE_INSTALL_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LumetraConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/LumetraConfig.cmake
    INSTALL_DESTINATION ${LUMETRA_CMAKE_INSTALL_DIR})
# 0.x: a minor version may change the interface, so only the same major.minor is compatible.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/LumetraConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/LumetraConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/LumetraConfigVersion.cmake
    DESTINATION ${LUMETRA_CMAKE_INSTALL_DIR})

# The Debian package: everything above, installed under /usr (scripts/package).
set(LUMETRA_PACKAGE_MAINTAINER "Lumetra developers <lumetra@localhost>" CACHE STRING
    "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_NAME lumetra)
set(CPACK_PACKAGE_VENDOR Lumetra)
set(CPACK_PACKAGE_CONTACT ${LUMETRA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "predicts how visible image degradations are to a human observer")
# Debian's long description: lines under 80 columns, as written here.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Lumetra passes a colour image and degraded versions of it through a model of"
    "early human vision (opponent colours, contrast sensitivity, cortex-like"
    "frequency bands, masking, edge structure) and reports for each degraded file"
    "a pooled visible-error measure (lower is better), a 1-5 quality score (higher"
    "is better) and a per-pixel error map."
    ""
    "This package holds the command line lumetra, the desktop program lumetra-gui,"
    "the Python package lumetra and the static library lumetra_core with its"
    "headers and CMake package (find_package(Lumetra), target Lumetra::core).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The programs' and the Python module's shared libraries, found by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Installed binaries are stripped; the static library keeps its symbols.
set(CPACK_STRIP_FILES ON)
if(LUMETRA_BUILD_PYTHON)
    # The binding is built for one Python minor version; the rest is what lumetra's modules
    # import: NumPy everywhere, pandas and dask.distributed for lumetra.batch.
    math(EXPR python_next_minor "${Python_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}), python3 (<< ${Python_VERSION_MAJOR}.${python_next_minor}), python3-numpy, python3-pandas, python3-dask, python3-distributed")
endif()
# Only building against the library needs these: the headers of FFTW and oneTBB, which its
# own headers include, and the link-time libraries of the static core; pkg-config and CMake
# find them.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
    "cmake, pkg-config, libfftw3-dev, libtbb-dev, libpng-dev, libjpeg-dev, libnetpbm-dev, libstb-dev, libsleef-dev, libwebp-dev, libtiff-dev, libavif-dev, libjxl-dev")
include(CPack)
