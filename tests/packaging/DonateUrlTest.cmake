# cmake -P: every row is an address and whether the Donate link may use it.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/CheckDonateUrl.cmake)

set(rows
  "https://tactimo.org/donate|ok"
  "https://www.example-project.org/donate|ok"
  "https://localhost:8443/donate|ok"
  "http://tactimo.org/donate|bad"            # not secure
  "HTTPS://tactimo.org/donate|bad"
  "ftp://tactimo.org/donate|bad"
  "https://tactimo.org/|bad"                 # wrong path
  "https://tactimo.org/donate/|bad"
  "https://tactimo.org/donate.html|bad"
  "https://tactimo.org/en/donate|bad"
  "https://tactimo.org/donate?ref=menu|bad"
  "https://tactimo.org/donate#top|bad"
  "https:///donate|bad"                      # no host
  "https://user@tactimo.org/donate|bad"      # would show one host and open another
  "https://evil.example\\@tactimo.org/donate|bad"
  "https://-tactimo.org/donate|bad"
  "https://tactimo..org/donate|bad"
  "https://tact imo.org/donate|bad"          # characters that would break quoting
  "https://tactimo.org\"/donate|bad"
  "https://tactimo.org<b>/donate|bad"
  "https://tactimo.org&x/donate|bad"
  "|bad"
)
string(REPEAT "a" 190 long)
list(APPEND rows "https://${long}.org/donate|bad")

set(failures 0)
foreach(row IN LISTS rows)
  string(FIND "${row}" "|" bar REVERSE)
  string(SUBSTRING "${row}" 0 ${bar} url)
  math(EXPR after "${bar} + 1")
  string(SUBSTRING "${row}" ${after} -1 expected)
  tactimo_donate_url_problem("${url}" problem)
  if(problem)
    set(got bad)
  else()
    set(got ok)
  endif()
  if(NOT got STREQUAL expected)
    message(SEND_ERROR "\"${url}\": expected ${expected}, got ${got} (${problem})")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
list(LENGTH rows count)
message(STATUS "${count} addresses checked, ${failures} wrong")
