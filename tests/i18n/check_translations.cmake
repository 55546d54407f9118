# cmake -DTS_FILE=... -DLUPDATE=... -DLUPDATE_ARGS=... -DSCRATCH=... -P check_translations.cmake
# Fails on an entry of `file` without a finished translation, or one the sources no longer have.
function(fail_on_open_entries file what)
    file(STRINGS ${file} open_entries
         REGEX "<translation type=\"(unfinished|vanished|obsolete)\"|<translation></translation>|<translation */>")
    list(LENGTH open_entries count)
    if(count GREATER 0)
        message(FATAL_ERROR "${what}: ${count} entries; run scripts/translations and translate what it marks unfinished")
    endif()
endfunction()

fail_on_open_entries(${TS_FILE} "${TS_FILE} is not finished")
# lupdate into a copy: a text the file lacks comes in unfinished, one the sources lost as vanished.
configure_file(${TS_FILE} ${SCRATCH}/current.ts COPYONLY)
execute_process(COMMAND ${LUPDATE} ${LUPDATE_ARGS} -ts ${SCRATCH}/current.ts COMMAND_ERROR_IS_FATAL ANY)
fail_on_open_entries(${SCRATCH}/current.ts "the sources' texts and ${TS_FILE} differ")
