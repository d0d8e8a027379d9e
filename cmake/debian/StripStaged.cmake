# Run by cpack on the files it has installed for packaging (CPACK_PRE_BUILD_SCRIPTS), before the
# Debian generator splits the programs' debugging information into the -dbgsym package and
# strips them: removes what Debian strips from every binary and that cpack's own stripping
# keeps, the compiler's .comment and .note sections; and strips the static library's
# debugging information (a library linked into another program keeps its symbols, which is
# what its users need).  With CPACK_LUMETRA_STRIP_BINARIES (no -dbgsym package: built without
# debugging information) it strips the programs and shared objects itself.
find_program(objcopy NAMES objcopy)
if(NOT objcopy)
    message(FATAL_ERROR "stripping the packaged files needs objcopy (binutils)")
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(path IN LISTS staged)
    if(IS_SYMLINK "${path}")
        continue()
    endif()
    set(options)
    if(path MATCHES "\\.a$")
        set(options --strip-debug --remove-section=.comment --remove-section=.note)
    else()
        file(READ "${path}" magic LIMIT 4 HEX)
        if(magic STREQUAL "7f454c46")  # an ELF program or shared object
            set(options --remove-section=.comment --remove-section=.note)
            if(CPACK_LUMETRA_STRIP_BINARIES)
                list(APPEND options --strip-unneeded)
            endif()
        endif()
    endif()
    if(options)
        execute_process(COMMAND "${objcopy}" ${options} "${path}"
            RESULT_VARIABLE failed ERROR_VARIABLE said)
        if(failed)
            message(FATAL_ERROR "objcopy ${options} ${path} failed: ${said}")
        endif()
    endif()
endforeach()
