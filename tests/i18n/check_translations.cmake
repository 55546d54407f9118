# cmake -DTS_FILE=... -DLUPDATE=... -DLUPDATE_ARGS=... -DSCRATCH=... -P check_translations.cmake
function(fail_on_open_entries file what)
    file(READ ${file} text)
    string(REGEX MATCHALL "<translation type=\"(unfinished|vanished|obsolete)\"|<translation></translation>|<translation */>"
           open_entries "${text}")
    list(LENGTH open_entries count)
    if(count GREATER 0)
        message(FATAL_ERROR "${what}: ${count} entries; "
                            "run scripts/translations and translate what it marks unfinished")
    endif()
endfunction()

fail_on_open_entries(${TS_FILE} "${TS_FILE} is not finished")
if(EXISTS ${LUPDATE})
    file(MAKE_DIRECTORY ${SCRATCH})
    configure_file(${TS_FILE} ${SCRATCH}/current.ts COPYONLY)
    execute_process(COMMAND ${LUPDATE} ${LUPDATE_ARGS} -ts ${SCRATCH}/current.ts RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "lupdate failed")
    endif()
    fail_on_open_entries(${SCRATCH}/current.ts "the sources' texts and ${TS_FILE} differ")
else()
    message(STATUS "lupdate not found: only the file itself is checked")
endif()
