# The date a build stands for: the About box shows it, and it must not depend
# on when or where the build runs, so that two builds of one commit give the
# same bytes. In this order:
#   1. SOURCE_DATE_EPOCH from the environment (seconds since 1970, UTC), as
#      reproducible-build tools and distribution packagers set it (empty
#      counts as unset);
#   2. the committer date of the source tree's last git commit;
#   3. the release date of this version (a source tarball without git).
# The compile clock is never used.
#
# wavrell_source_date(<source dir> <release date YYYY-MM-DD> <out prefix>)
# sets <out prefix>_EPOCH (seconds), <out prefix>_DAY (whole days since
# 30 December 1899, the program's day numbers), <out prefix>_ISO
# (YYYY-MM-DD, UTC) and <out prefix>_ORIGIN (environment, git or release).
#
# Run as a script it prints "<day> <iso> <origin>":
#   cmake -DSOURCE_DIR=... -DRELEASE_DATE=YYYY-MM-DD -P cmake/source_date.cmake

# Days since 1970-01-01 of a civil date (proleptic Gregorian calendar, year
# 0 or later).
function(wavrell_days_from_civil y m d out)
  if(m LESS_EQUAL 2)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR era "${y} / 400")  # years from 0 on only
  math(EXPR yoe "${y} - ${era} * 400")
  math(EXPR mp "(${m} + 9) % 12")
  math(EXPR doy "(153 * ${mp} + 2) / 5 + ${d} - 1")
  math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
  math(EXPR days "${era} * 146097 + ${doe} - 719468")
  set(${out} ${days} PARENT_SCOPE)
endfunction()

# Days since 1970-01-01 of a date written YYYY-MM-DD.
function(wavrell_days_from_iso_date text out)
  if(NOT text MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "A date must read YYYY-MM-DD, not \"${text}\"")
  endif()
  set(year ${CMAKE_MATCH_1})
  set(month ${CMAKE_MATCH_2})
  set(day ${CMAKE_MATCH_3})
  # No leading zero, which math() would not take as decimal.
  string(REGEX REPLACE "^0" "" month "${month}")
  string(REGEX REPLACE "^0" "" day "${day}")
  wavrell_days_from_civil(${year} ${month} ${day} days)
  set(${out} ${days} PARENT_SCOPE)
endfunction()

# Formats `epoch` (seconds since 1970, UTC) with string(TIMESTAMP)'s
# `format`. string(TIMESTAMP) formats SOURCE_DATE_EPOCH when that is set:
# lend it the epoch, then restore the environment.
function(wavrell_format_epoch epoch format out)
  set(saved_set FALSE)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(saved_set TRUE)
    set(saved "$ENV{SOURCE_DATE_EPOCH}")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  string(TIMESTAMP text "${format}" UTC)
  if(saved_set)
    set(ENV{SOURCE_DATE_EPOCH} "${saved}")
  else()
    unset(ENV{SOURCE_DATE_EPOCH})
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(wavrell_source_date source_dir release_date prefix)
  set(epoch "")
  set(origin "")
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
    if(NOT epoch MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970, not \"${epoch}\"")
    endif()
    set(origin environment)
  else()
    find_package(Git QUIET)
    if(GIT_FOUND)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${source_dir} log -1 --format=%ct
        OUTPUT_VARIABLE git_epoch ERROR_QUIET RESULT_VARIABLE git_result
        OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(git_result EQUAL 0 AND git_epoch MATCHES "^[0-9]+$")
        set(epoch ${git_epoch})
        set(origin git)
      endif()
    endif()
  endif()
  if(origin STREQUAL "")
    wavrell_days_from_iso_date("${release_date}" days)
    math(EXPR epoch "${days} * 86400")
    set(origin release)
  endif()

  math(EXPR unix_day "${epoch} / 86400")
  math(EXPR day_number "${unix_day} + 25569")
  wavrell_format_epoch(${epoch} "%Y-%m-%d" iso)

  set(${prefix}_EPOCH ${epoch} PARENT_SCOPE)
  set(${prefix}_DAY ${day_number} PARENT_SCOPE)
  set(${prefix}_ISO ${iso} PARENT_SCOPE)
  set(${prefix}_ORIGIN ${origin} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  wavrell_source_date("${SOURCE_DIR}" "${RELEASE_DATE}" date)
  message("${date_DAY} ${date_ISO} ${date_ORIGIN}")
endif()
