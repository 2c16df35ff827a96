# Writes kestrova-wav-cli's completion scripts for bash, zsh and fish into FOLDER, each as
# the program prints it (cmake -DPROGRAM=... -DFOLDER=... -P completions.cmake).
file(MAKE_DIRECTORY "${FOLDER}")
foreach(shell_file IN ITEMS "bash;kestrova-wav-cli" "zsh;_kestrova-wav-cli"
                            "fish;kestrova-wav-cli.fish")
    list(GET shell_file 0 shell)
    list(GET shell_file 1 name)
    execute_process(COMMAND "${PROGRAM}" completions ${shell} OUTPUT_FILE "${FOLDER}/${name}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} completions ${shell}: ${status}")
    endif()
endforeach()
