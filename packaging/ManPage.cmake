# Makes a program's manual page and its gzip -9n copy, in script mode:
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=... -DOUTPUT=... -P ManPage.cmake
# help2man writes the page from the program's --help and --version, with the sections of the
# include file. Two of its renderings are then made the usual ones of a manual page: the
# "Exit status:" paragraph of --help becomes the EXIT STATUS section (it stands after the
# options, where that section belongs), and an option whose description starts on the line
# after it gets the same hanging paragraph as one on the same line.

# Ninja makes an output's folder by itself, Make does not: help2man needs it there.
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${HELP2MAN} --no-info --include=${INCLUDE} --output=${OUTPUT}.tmp ${PROGRAM}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()
file(READ ${OUTPUT}.tmp page)
file(REMOVE ${OUTPUT}.tmp)
string(REPLACE ".SS \"Exit status:\"\n" ".SH \"EXIT STATUS\"\n" page "${page}")
string(REGEX REPLACE "\\.HP\n([^\n]*)\n\\.IP\n" ".TP\n\\1\n" page "${page}")
file(WRITE ${OUTPUT} "${page}")
# No name or time in the gzip header, so that the package is the same at every build.
execute_process(COMMAND gzip -9nc ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip failed on ${OUTPUT}")
endif()
