# Runs vantrel-cli once and checks its exit code, and its output against a golden file or patterns.
#   -DCLI=exe [-DEMULATOR=wine-run] -DARGS="a;b" -DEXIT=n
#   [-DEXPECTED_STDOUT=file] [-DSTDOUT_MATCH=regex] [-DSTDERR_MATCH=regex] [-DWORKDIR=dir]
#   [-DSTDOUT_FILE=file]  (standard output goes there instead, e.g. /dev/full)
if(NOT WORKDIR)
    set(WORKDIR ${CMAKE_CURRENT_LIST_DIR})
endif()
if(STDOUT_FILE)
    set(stdout_to OUTPUT_FILE ${STDOUT_FILE})
else()
    set(stdout_to OUTPUT_VARIABLE out)
endif()
execute_process(
    COMMAND ${EMULATOR} ${CLI} ${ARGS}
    WORKING_DIRECTORY ${WORKDIR}
    RESULT_VARIABLE code
    ${stdout_to}
    ERROR_VARIABLE err)
if(NOT code STREQUAL EXIT)
    message(FATAL_ERROR "exit code ${code}, expected ${EXIT}\nstdout: ${out}\nstderr: ${err}")
endif()
if(EXPECTED_STDOUT)
    file(READ ${EXPECTED_STDOUT} expected)
    if(NOT out STREQUAL expected)
        file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/actual.out "${out}")
        message(FATAL_ERROR "stdout differs from ${EXPECTED_STDOUT}; got:\n${out}")
    endif()
endif()
if(STDOUT_MATCH AND NOT out MATCHES "${STDOUT_MATCH}")
    message(FATAL_ERROR "stdout does not match '${STDOUT_MATCH}':\n${out}")
endif()
if(STDERR_MATCH AND NOT err MATCHES "${STDERR_MATCH}")
    message(FATAL_ERROR "stderr does not match '${STDERR_MATCH}':\n${err}")
endif()
