# cmake -P -DVERSION=... -DWATCH=path [-DTACTIMO=path]: what the programs answer with no display;
# rows: program|arguments|exit status|standard output|standard error.
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
set(ENV{QT_QPA_PLATFORM} xcb) # a window would need an X display and fail

string(REPLACE "." "\\." version "${VERSION}")
set(rows "WATCH|--version|0|^tactimo-watch ${version}\n.*GPL-3\\.0-or-later|^$")
if(TACTIMO)
  list(APPEND rows
    "TACTIMO|--version|0|^tactimo ${version}\n.*GPL-3\\.0-or-later|^$"
    "TACTIMO|--help|0|^Usage: tactimo .*--version|^$"
    # Qt's own options pass; what is left is refused.
    "TACTIMO|-platform offscreen --bogus|2|^$|tactimo: unknown option \"--bogus\"")
endif()
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 program)
  list(GET fields 1 args)
  list(GET fields 2 expected)
  list(GET fields 3 out_pattern)
  list(GET fields 4 err_pattern)
  separate_arguments(args UNIX_COMMAND "${args}")
  execute_process(COMMAND ${${program}} ${args} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
  if(NOT status STREQUAL expected OR NOT out MATCHES "${out_pattern}" OR NOT err MATCHES "${err_pattern}")
    message(SEND_ERROR "${program} ${args}: status ${status} (expected ${expected})\nout: ${out}\nerr: ${err}")
  endif()
endforeach()
