# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# cmake -P -DVERSION=... -DWATCH=path [-DTACTIMO=path]: what the programs answer with no display.
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
set(ENV{QT_QPA_PLATFORM} xcb) # a window would need an X display and fail

function(expect program args expected out_pattern err_pattern)
  separate_arguments(args UNIX_COMMAND "${args}")
  execute_process(COMMAND ${${program}} ${args} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
  if(NOT status STREQUAL expected OR NOT out MATCHES "${out_pattern}" OR NOT err MATCHES "${err_pattern}")
    message(SEND_ERROR "${program} ${args}: status ${status} (expected ${expected})\nout: ${out}\nerr: ${err}")
  endif()
endfunction()

string(REPLACE "." "\\." version "${VERSION}")
expect(WATCH --version 0 "^tactimo-watch ${version}\n.*GPL-3\\.0-or-later" "^$")
if(TACTIMO)
  expect(TACTIMO --version 0 "^tactimo ${version}\n.*GPL-3\\.0-or-later" "^$")
  expect(TACTIMO --help 0 "^Usage: tactimo .*--version" "^$")
  # Qt's own options pass; what is left is refused.
  expect(TACTIMO "-platform offscreen --bogus" 2 "^$" "tactimo: unknown option \"--bogus\"")
endif()
