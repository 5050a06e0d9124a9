# One manual page from a program's own --help (help2man) and the sections
# written for it (help2man --include), gzipped; run at build time with cmake -P.
#   -DPROGRAM=<path> -DSUBCOMMAND=<name or empty> -DNAME=<one line>
#   -DINCLUDE=<file.h2m> -DOUTPUT=<page.1.gz>
execute_process(COMMAND "${PROGRAM}" --version OUTPUT_VARIABLE version
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
# "pelmok-data 0.9.0": the page's title is the program (or program-subcommand).
string(REGEX REPLACE "^([^ ]+) (.*)$" "\\1" program "${version}")
string(REGEX REPLACE "^([^ ]+) (.*)$" "\\2" number "${version}")
set(help --help)
set(tool "${program}")
if(SUBCOMMAND)
  set(program "${program}-${SUBCOMMAND}")
  set(help "${SUBCOMMAND} --help")
endif()
execute_process(COMMAND help2man --no-info --section=1 "--name=${NAME}" "--help-option=${help}"
                        "--version-string=${program} ${number}" "--include=${INCLUDE}"
                        "--output=${OUTPUT}-page" "${PROGRAM}"
                COMMAND_ERROR_IS_FATAL ANY)
if(SUBCOMMAND)
  # A subcommand's usage line names only itself: the synopsis gets the program too.
  file(READ "${OUTPUT}-page" text)
  string(REPLACE ".SH SYNOPSIS\n.B ${SUBCOMMAND}\n" ".SH SYNOPSIS\n.B ${tool} ${SUBCOMMAND}\n"
         text "${text}")
  file(WRITE "${OUTPUT}-page" "${text}")
endif()
execute_process(COMMAND gzip -9nf "${OUTPUT}-page" COMMAND_ERROR_IS_FATAL ANY)
file(RENAME "${OUTPUT}-page.gz" "${OUTPUT}")
