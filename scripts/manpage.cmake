# Writes a manual page from a program's --help text, gzipped:
#   cmake -DPROGRAM=path -DNAME=seekmark -DSUMMARY="..." -DSEE_ALSO="framewise(1), ..." -DVERSION=1.0.0
#         -DOUT=dir/seekmark.1.gz -P manpage.cmake
# The first line of the help (and the lines indented under it) is the synopsis, the rest the
# description, kept as it is laid out.
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${result})")
endif()

# roff: backslashes and minus signs, and lines that would start with a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")
# One list element a line: the text's own semicolons stand in for themselves until written.
string(REPLACE ";" "@semicolon@" help "${help}")
string(REPLACE "\n" ";" lines "${help}")

set(synopsis "")
set(description "")
set(inSynopsis TRUE)
foreach(line IN LISTS lines)
  if(inSynopsis AND synopsis STREQUAL "")
    string(REGEX REPLACE "^[Uu]sage: *" "" line "${line}")
    set(synopsis "${line}\n")
  elseif(inSynopsis AND line MATCHES "^        ")
    string(STRIP "${line}" line)
    string(APPEND synopsis "${line}\n")
  else()
    set(inSynopsis FALSE)
    string(APPEND description "${line}\n")
  endif()
endforeach()

string(REPLACE "@semicolon@" ";" synopsis "${synopsis}")
string(REPLACE "@semicolon@" ";" description "${description}")
string(TOUPPER "${NAME}" upper)
set(page ".TH ${upper} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${SUMMARY}
.SH SYNOPSIS
.nf
${synopsis}.fi
.SH DESCRIPTION
.nf
${description}.fi
.SH SEE ALSO
${SEE_ALSO}
")
get_filename_component(dir "${OUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" plain "${OUT}")
file(WRITE "${plain}" "${page}")
execute_process(COMMAND gzip -9 -n -f "${plain}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${plain} failed")
endif()
