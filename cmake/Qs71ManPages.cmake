# A man page for each program, written at build time by help2man from the program's own
# --help and --version, so the two can never tell different stories. What --help does not say
# (examples, files, the environment, see also) comes from packaging/man/<program>.h2m.
#
# Only native builds: help2man has to run the program. The sanitizer and fuzz builds are for
# tests and never installed, so they skip it. Installed into share/man/man1.
option(QS71_MAN_PAGES "Write the programs' man pages with help2man (native builds)" ON)
if(NOT QS71_MAN_PAGES OR CMAKE_CROSSCOMPILING OR WIN32 OR QS71_SANITIZE OR QS71_FUZZ)
  return()
endif()

find_program(QS71_HELP2MAN help2man)
if(NOT QS71_HELP2MAN)
  message(FATAL_ERROR "help2man is needed for the man pages (scripts/deps.sh installs it; "
    "-DQS71_MAN_PAGES=OFF builds without them)")
endif()

# program, the one-line summary under NAME
set(QS71_MAN_PAGE_TABLE
  "qs71gen|compile a QS71 voice script and its WAV files into an OTP image"
  "qs71prog|blank-check, write and verify a QS71 OTP part through the USB programmer"
  "qs71dump|show what a QS71 OTP image holds and extract its sounds")

set(QS71_MAN_PAGES_OUT)
foreach(row IN LISTS QS71_MAN_PAGE_TABLE)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 program)
  list(GET row 1 summary)
  set(include ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m)
  set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
  # The first line of --version: qs71prog's goes on to name the libpq and OpenSSL it runs
  # with, which are the running machine's, not the page's.
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${QS71_HELP2MAN} --no-info --section=1 --name=${summary} --include=${include}
      --version-string=${PROJECT_VERSION} --output=${page} $<TARGET_FILE:${program}>
    DEPENDS ${program} ${include}
    COMMENT "Writing the man page ${program}.1 from ${program} --help"
    VERBATIM)
  list(APPEND QS71_MAN_PAGES_OUT ${page})
endforeach()
add_custom_target(qs71_man_pages ALL DEPENDS ${QS71_MAN_PAGES_OUT})
install(FILES ${QS71_MAN_PAGES_OUT} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
