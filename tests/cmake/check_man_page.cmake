# Fails when an option or a subcommand that PROGRAM's --help shows (and, for each
# subcommand, what its own --help shows) is missing from the manual page PAGE, an
# scdoc source. A subcommand's options belong in its "## NAME" section.
# Run with -DPROGRAM=... -DPAGE=...
function(help_text out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help RESULT_VARIABLE rc
                  OUTPUT_VARIABLE text ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed (${rc}): ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The options a help text names: -x or --word after a space, a comma or a bracket.
function(options_in out text)
  # Brackets would hold a CMake list together: make them spaces first.
  string(REGEX REPLACE "[][()|]" " " text "${text}")
  string(REGEX MATCHALL "[ \t\n,]--?[A-Za-z][A-Za-z0-9-]*" found " ${text}")
  set(options)
  foreach(match ${found})
    string(REGEX REPLACE "^[^-]" "" option "${match}")
    list(APPEND options ${option})
  endforeach()
  list(REMOVE_DUPLICATES options)
  set(${out} ${options} PARENT_SCOPE)
endfunction()

set(missing)
function(expect_in text what where)
  if(NOT " ${text} " MATCHES "[^A-Za-z0-9-]${what}[^A-Za-z0-9-]")
    set(missing "${missing}\n  ${what} (${where})" PARENT_SCOPE)
  endif()
endfunction()

file(READ ${PAGE} page)
get_filename_component(name ${PROGRAM} NAME)
help_text(help)
options_in(options "${help}")
foreach(option ${options})
  expect_in("${page}" ${option} "${name} --help")
endforeach()

# Subcommands, as CLI11 lists them under its heading: two spaces, the name,
# its description. A usage line that takes one while none is found means the
# heading changed, and nothing would be checked: that fails too.
string(REGEX MATCH "\n[Ss][Uu][Bb][Cc][Oo][Mm][Mm][Aa][Nn][Dd][Ss]:\n.*" rest "${help}")
if(help MATCHES "Usage: [^\n]*SUBCOMMAND" AND NOT rest)
  message(FATAL_ERROR "no list of subcommands found in ${name} --help")
endif()
if(rest)
  string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*  " rows "${rest}")
  foreach(row ${rows})
    string(STRIP "${row}" sub)
    string(FIND "${page}" "\n## ${sub}\n" start)
    if(start EQUAL -1)
      set(missing "${missing}\n  section '## ${sub}' (${name} --help)")
      continue()
    endif()
    math(EXPR start "${start} + 1")
    string(SUBSTRING "${page}" ${start} -1 section)
    string(FIND "${section}" "\n#" end)
    string(SUBSTRING "${section}" 0 ${end} section)
    help_text(sub_help ${sub})
    options_in(sub_options "${sub_help}")
    list(REMOVE_ITEM sub_options -h --help)  # every subcommand has them; the page says so once
    foreach(option ${sub_options})
      expect_in("${section}" ${option} "${name} ${sub} --help")
    endforeach()
  endforeach()
endif()

if(missing)
  message(FATAL_ERROR "${PAGE} lacks what --help shows:${missing}")
endif()
