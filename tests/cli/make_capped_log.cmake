# Writes a log a little longer than the engine's 600 MiB read cap without using the disk space:
# one [PRO] line, then lines of NUL bytes 4 MiB long (holes of a sparse file, each ended by a
# CR LF), which the parser drops.   cmake -DLOG=path -P make_capped_log.cmake
set(step 4194304)
set(size 0)
file(WRITE ${LOG} "[PRO]|t|x|0|9/90/C:\\a.exe/a/1/2/3|h\r\n")
foreach(i RANGE 1 152)
    math(EXPR size "${i} * ${step} - 2")
    execute_process(COMMAND truncate -s ${size} ${LOG} RESULT_VARIABLE code)
    if(NOT code EQUAL 0)
        message(FATAL_ERROR "truncate failed: ${code}")
    endif()
    file(APPEND ${LOG} "\r\n")
endforeach()
