# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# cmake -P: addresses the Donate link may use, and ones it may not.
cmake_minimum_required(VERSION 3.25) # IN_LIST
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/CheckDonateUrl.cmake)

string(REPEAT "a" 190 long)
set(good "https://www.example-project.org/donate" "https://localhost:8443/donate")
set(bad "http://tactimo.org/donate" "https://tactimo.org/donate?ref=menu" "https://evil.example\\@tactimo.org/donate"
  "https://tactimo..org/donate" "https://tactimo.org\"/donate" "https://${long}.org/donate")
foreach(url IN LISTS good bad)
  tactimo_donate_url_problem("${url}" problem)
  if(url IN_LIST good AND problem)
    message(SEND_ERROR "\"${url}\" refused: ${problem}")
  elseif(NOT url IN_LIST good AND NOT problem)
    message(SEND_ERROR "\"${url}\" accepted")
  endif()
endforeach()
