# Runs `voskel --selftest` with a search path that holds no docker (nor anything else), its own
# temporary and settings folders, and checks what a user would: exactly "selftest ok" on standard
# output, nothing on standard error, status 0, and nothing left behind.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/bin" "${WORK}/tmp" "${WORK}/config")

execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env --unset=DOCKER_HOST "PATH=${WORK}/bin" "TMPDIR=${WORK}/tmp"
            "XDG_CONFIG_HOME=${WORK}/config" "${VOSKEL}" --selftest
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)

if(NOT status EQUAL 0)
    message(FATAL_ERROR "voskel --selftest exited with ${status}:\n${err}")
endif()
if(NOT out STREQUAL "selftest ok\n")
    message(FATAL_ERROR "voskel --selftest printed \"${out}\" instead of \"selftest ok\"")
endif()
if(NOT err STREQUAL "")
    message(FATAL_ERROR "voskel --selftest wrote to standard error:\n${err}")
endif()

file(GLOB leftovers LIST_DIRECTORIES true "${WORK}/tmp/*")
file(GLOB_RECURSE suites LIST_DIRECTORIES true "${WORK}/config/*")
if(leftovers OR suites)
    message(FATAL_ERROR "voskel --selftest left behind: ${leftovers} ${suites}")
endif()
