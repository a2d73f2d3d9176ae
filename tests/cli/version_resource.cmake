# Checks the version resource of each Windows program, read back from the program by windres.
#   -DWINDRES=windres -DPROGRAMS="a.exe;b.exe" -DVERSION=x.y
string(REPLACE "." ";" parts "${VERSION}")
list(APPEND parts 0 0 0)
list(SUBLIST parts 0 4 parts)
string(REPLACE ";" ", " numbers "${parts}")
foreach(program ${PROGRAMS})
    execute_process(COMMAND ${WINDRES} -i ${program} -O rc
        RESULT_VARIABLE code OUTPUT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT code EQUAL 0)
        message(FATAL_ERROR "${WINDRES} cannot read ${program}: ${err}")
    endif()
    get_filename_component(name ${program} NAME)
    foreach(expected
            "FILEVERSION ${numbers}\n"
            "PRODUCTVERSION ${numbers}\n"
            "VALUE \"FileVersion\", \"${VERSION}\""
            "VALUE \"ProductVersion\", \"${VERSION}\""
            "VALUE \"OriginalFilename\", \"${name}\"")
        string(FIND "${rc}" "${expected}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${program}: no '${expected}' in its version resource:\n${rc}")
        endif()
    endforeach()
endforeach()
