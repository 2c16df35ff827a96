# Builds the layout probes of CMakeLists.txt: the public ones must build, and each internal
# header must fail as not found, for the programs and for bench/ alike.
if(GENERATOR MATCHES "Ninja")
    set(keep_going -k 0)
else()
    set(keep_going -k)
endif()

foreach(user programs bench)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR}
                            --target layout_probe_${user}_public
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${user}: the public headers do not build:\n${output}")
    endif()

    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR}
                            --target layout_probe_${user}_internal -- ${keep_going}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(status EQUAL 0)
        message(FATAL_ERROR "${user}: the internal headers are reachable:\n${output}")
    endif()
    foreach(header ${INTERNAL_HEADERS})
        string(FIND "${output}" "${header}: No such file" gcc)
        string(FIND "${output}" "'${header}' file not found" clang)
        if(gcc EQUAL -1 AND clang EQUAL -1)
            message(FATAL_ERROR "${user}: ${header} did not fail as not found:\n${output}")
        endif()
    endforeach()
    list(LENGTH INTERNAL_HEADERS count)
    message(STATUS "${user}: the public headers build; ${count} internal headers are not found")
endforeach()
