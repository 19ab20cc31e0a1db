# Fails unless the library defines exactly the ten fntra* functions in its
# dynamic symbol table. Run with -DNM=... -DLIB=...
execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line ${lines})
  string(REGEX REPLACE "^.* ([^ ]+)$" "\\1" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(want fntraGetAnimeKeyValue fntraGetAnimeNumber fntraGetAnimeRevers fntraGetBoneName
    fntraGetBoneNumber fntraGetRollValue fntraGetRotateValue fntraGetTransValue fntraanalysis
    fntrarelease)
list(SORT want)
if(NOT names STREQUAL want)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${want}")
endif()
