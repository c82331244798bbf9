# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# tactimo_donate_url_problem(URL OUT): sets OUT to why URL cannot be the
# Donate link's address, or to "" when it can.
#
# Accepted: https://HOST/donate or https://HOST:PORT/donate, HOST made of
# dot-separated labels of letters, digits and inner hyphens. Anything more (a
# query, user information, quotes, spaces) is refused rather than escaped: the
# value goes verbatim into C++ source, the AppStream XML and the link itself.
function(tactimo_donate_url_problem url out)
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  if(NOT url MATCHES "^https://")
    set(${out} "must start with https://" PARENT_SCOPE)
  elseif(NOT url MATCHES "^https://[^/]+/donate$")
    set(${out} "its path must be /donate, with no query or fragment" PARENT_SCOPE)
  elseif(NOT url MATCHES "^https://${label}(\\.${label})*(:[0-9]+)?/donate$")
    set(${out} "the host must be a plain DNS name (letters, digits, hyphens, dots), optionally with a port" PARENT_SCOPE)
  else()
    string(LENGTH "${url}" length)
    if(length GREATER 200)
      set(${out} "longer than 200 characters" PARENT_SCOPE)
    else()
      set(${out} "" PARENT_SCOPE)
    endif()
  endif()
endfunction()
