# The functions the public header declares: every name after TESSALY_API
# and before its parameter list. Used to make the shared library's version
# script and by the export check, so both read the header the same way.
function(tessaly_header_functions header out)
  file(READ ${header} text)
  string(REGEX MATCHALL "\nTESSALY_API[^;(#]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(" decls "${text}")
  set(names "")
  foreach(d ${decls})
    string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)\\($" "\\1" name "${d}")
    list(APPEND names ${name})
  endforeach()
  list(SORT names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()
