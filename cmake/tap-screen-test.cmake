# A screen test of tap_add_screen_test (TapModule.cmake), run by ctest as
#   cmake -DTAPSIM=.. -DSCREENDIFF=.. -DMODULE=.. -DKEYS=.. -DGOLDEN=.. -DOPTIONS=a|b -DOUT=.. -P
#
# The golden file holds one checksum line per synced screen: that is what the
# test compares. The same run's pictures lie beside it in <golden>.screens/,
# for people: when a screen differs they are the expected screen, beside the
# actual one and a picture of where they differ. Both are written together by
# TAP_UPDATE_GOLDEN=1, so neither is ever edited by hand.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT}/screens)
string(REPLACE "|" ";" options "${OPTIONS}")
set(args --headless --keys ${KEYS} --checksums ${OUT}/checksums.txt --snapshots ${OUT}/screens ${options})
execute_process(COMMAND ${TAPSIM} ${args} ${MODULE}
  RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tapsim ended with status ${status}:\n${said}")
endif()

string(REGEX REPLACE "\\.[^./]*$" "" stem ${GOLDEN})
set(pictures ${stem}.screens)
if("$ENV{TAP_UPDATE_GOLDEN}")
  file(COPY_FILE ${OUT}/checksums.txt ${GOLDEN})
  file(REMOVE_RECURSE ${pictures})
  file(COPY ${OUT}/screens/ DESTINATION ${pictures})
  message(STATUS "rewrote ${GOLDEN} and ${pictures}/: review the difference before you commit it")
  return()
endif()
if(NOT EXISTS ${GOLDEN})
  message(FATAL_ERROR "there is no ${GOLDEN}: make it with TAP_UPDATE_GOLDEN=1 ctest, and look at ${pictures}/")
endif()

file(STRINGS ${GOLDEN} expected)
file(STRINGS ${OUT}/checksums.txt actual)
list(LENGTH expected expected_count)
list(LENGTH actual actual_count)
set(report)
set(last ${expected_count})
if(actual_count GREATER last)
  set(last ${actual_count})
endif()
foreach(index RANGE 1 ${last})
  math(EXPR at "${index} - 1")
  set(want "(none)")
  set(got "(none)")
  if(at LESS expected_count)
    list(GET expected ${at} want)
  endif()
  if(at LESS actual_count)
    list(GET actual ${at} got)
  endif()
  if(want STREQUAL got)
    continue()
  endif()
  string(LENGTH "00${index}" digits)
  math(EXPR skip "${digits} - 3")
  string(SUBSTRING "00${index}" ${skip} 3 number)
  set(name screen-${number}.png)
  string(APPEND report "screen ${index}: expected ${want}, got ${got}\n")
  if(EXISTS ${pictures}/${name} AND EXISTS ${OUT}/screens/${name})
    file(COPY_FILE ${pictures}/${name} ${OUT}/screen-${number}-expected.png)
    file(COPY_FILE ${OUT}/screens/${name} ${OUT}/screen-${number}-actual.png)
    execute_process(COMMAND ${SCREENDIFF} ${OUT}/screen-${number}-expected.png
                            ${OUT}/screen-${number}-actual.png ${OUT}/screen-${number}-diff.png
                    OUTPUT_VARIABLE where ERROR_VARIABLE where OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(APPEND report "  ${where}\n"
      "  expected: ${OUT}/screen-${number}-expected.png\n"
      "  actual:   ${OUT}/screen-${number}-actual.png\n"
      "  diff:     ${OUT}/screen-${number}-diff.png\n")
  elseif(EXISTS ${OUT}/screens/${name})
    string(APPEND report "  actual: ${OUT}/screens/${name} (${pictures}/ has no expected picture of it)\n")
  endif()
endforeach()
if(report)
  # Printed as it is; an error message would be rewrapped.
  message(NOTICE "${MODULE} drew ${actual_count} screens, ${GOLDEN} expects ${expected_count}; "
    "these differ:\n${report}If the new screens are right: TAP_UPDATE_GOLDEN=1 ctest, then review the difference.")
  message(FATAL_ERROR "the screens differ from ${GOLDEN}")
endif()
message(STATUS "${actual_count} screens as in ${GOLDEN}")
