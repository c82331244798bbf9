# cmake -P: the AppStream releases and the Debian changelog made from a
# NEWS.md, and the mistakes in one that stop the build.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/ReleaseNews.cmake)

function(expect what got wanted)
  if(NOT got STREQUAL wanted)
    message(SEND_ERROR "${what}:\n${got}\nwanted:\n${wanted}")
  endif()
endfunction()

tactimo_release_news([=[
# News

Text before the releases, with - a dash and a ## inside.

## 1.2.0 (2026-12-08)

- Compare with `tactimo-watch --compare NAME`: a & b <c> [d] e\f
- Each item is one paragraph, filled up to 79 columns in the changelog, where
  continued lines are indented by four spaces.
]=] 1.2.0 "M <m@example.org>")
expect(problem "${TACTIMO_NEWS_PROBLEM}" "")
expect(metainfo "${TACTIMO_RELEASES_XML}" [=[
    <release version="1.2.0" date="2026-12-08">
      <description>
        <ul>
          <li>Compare with <code>tactimo-watch --compare NAME</code>: a &amp; b &lt;c&gt; [d] e\f</li>
          <li>Each item is one paragraph, filled up to 79 columns in the changelog, where continued lines are indented by four spaces.</li>
        </ul>
      </description>
    </release>]=])
expect(changelog "${TACTIMO_CHANGELOG}" [=[
tactimo (1.2.0) unstable; urgency=medium

  * Compare with tactimo-watch --compare NAME: a & b <c> [d] e\f
  * Each item is one paragraph, filled up to 79 columns in the changelog, where
    continued lines are indented by four spaces.

 -- M <m@example.org>  Tue, 08 Dec 2026 00:00:00 +0000
]=])

# Refusals: each row the NEWS.md, its version, and what the refusal says.
set(release "\n## 1.2.0 (2026-12-08)\n\n- New.\n")
set(rows
  "${release}|1.3.0|the newest release is 1.2.0, the project's version 1.3.0"
  "${release}\n## 1.1.0 (2026-12-08)\n- Old.\n|1.2.0|release 1.1.0 (2026-12-08) is not older than 1.2.0 (2026-12-08) above it"
  "\n## 1.2.0 (2026-02-30)\n- New.\n|1.2.0|release 1.2.0: no such day 2026-02-30")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 text)
  list(GET fields 1 version)
  list(GET fields 2 wanted)
  tactimo_release_news("${text}" ${version} "M <m@example.org>")
  expect("refusal of:\n${text}" "${TACTIMO_NEWS_PROBLEM}" "${wanted}")
endforeach()
