# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on its staging tree, before the .deb is built:
# compresses the manual pages and adds changelog.Debian.gz, both with gzip -9n (no name or
# time stamp inside, so the package is reproducible), installs the lintian overrides, and
# removes the .comment and .note sections from the (already stripped) programs, as
# dh_strip would. A plain `cmake --install` keeps the manual pages uncompressed and has
# none of the Debian-only files.

if(NOT CPACK_TEMPORARY_INSTALL_DIRECTORY)
    message(FATAL_ERROR "prepare-package.cmake is run by CPack, not by hand")
endif()

find_program(KESTROVA_GZIP gzip REQUIRED)

function(kestrova_gzip source target)
    execute_process(COMMAND "${KESTROVA_GZIP}" -9n -c "${source}"
                    OUTPUT_FILE "${target}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip ${source}: ${status}")
    endif()
    file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")

file(GLOB pages "${root}/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
    kestrova_gzip("${page}" "${page}.gz")
    file(REMOVE "${page}")
endforeach()

set(docdir "${root}/${CPACK_KESTROVA_DOCDIR}")
file(MAKE_DIRECTORY "${docdir}")
kestrova_gzip("${CPACK_KESTROVA_CHANGELOG}" "${docdir}/changelog.Debian.gz")

set(overrides "${root}/share/lintian/overrides")
file(MAKE_DIRECTORY "${overrides}")
configure_file("${CPACK_KESTROVA_LINTIAN_OVERRIDES}" "${overrides}/kestrova-wav" COPYONLY)
file(CHMOD "${overrides}/kestrova-wav" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

if(CPACK_KESTROVA_STRIP)
    file(GLOB programs "${root}/${CPACK_KESTROVA_BINDIR}/*")
    foreach(program IN LISTS programs)
        execute_process(COMMAND "${CPACK_KESTROVA_STRIP}" --remove-section=.comment
                                --remove-section=.note "${program}"
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "strip ${program}: ${status}")
        endif()
    endforeach()
endif()
