# The platform's own libraries, found by library and header name in the
# sysroot or CMAKE_PREFIX_PATH, under the target names our stand-ins carry
# (parser, sta, common_log, hvkit, wpa3info, rrm_common, ubus, ubox), so the
# rest of the tree links them unchanged.
#
# rrm_platform_library(TARGET LIB <name> [HEADERS <h>...] [OWN_INCLUDE <dir>]
#                      [OPTIONAL_HEADERS <h>...] [LINK <target>...] WHAT <text>)
# TARGET becomes an interface target linking lib<name> and the folders of
# HEADERS; OWN_INCLUDE is a folder of this tree that holds the daemon's own
# declaration of the library's interface (searched before the prefix).
# What is not found is noted, and rrm_platform_check() fails the configure
# step naming every missing piece at once.
function(rrm_platform_library target)
  cmake_parse_arguments(P "" "LIB;WHAT;OWN_INCLUDE" "HEADERS;OPTIONAL_HEADERS;LINK" ${ARGN})
  string(MAKE_C_IDENTIFIER "${P_LIB}" id)
  string(TOUPPER "${id}" id)
  find_library(RRM_PLATFORM_${id}_LIBRARY ${P_LIB})
  set(dirs "")
  if(P_OWN_INCLUDE)
    list(APPEND dirs ${P_OWN_INCLUDE})
  endif()
  set(missing "")
  if(NOT RRM_PLATFORM_${id}_LIBRARY)
    list(APPEND missing "library lib${P_LIB} (${P_WHAT})")
  endif()
  foreach(h ${P_HEADERS} ${P_OPTIONAL_HEADERS})
    string(MAKE_C_IDENTIFIER "${h}" hid)
    string(TOUPPER "${hid}" hid)
    find_path(RRM_PLATFORM_${hid}_DIR ${h})
    if(RRM_PLATFORM_${hid}_DIR)
      list(APPEND dirs ${RRM_PLATFORM_${hid}_DIR})
    elseif(h IN_LIST P_HEADERS)
      list(APPEND missing "header ${h} (${P_WHAT})")
    endif()
  endforeach()
  if(missing)
    set_property(GLOBAL APPEND PROPERTY RRM_PLATFORM_MISSING ${missing})
    return()
  endif()
  list(REMOVE_DUPLICATES dirs)
  add_library(${target} INTERFACE)
  target_include_directories(${target} INTERFACE ${dirs})
  target_link_libraries(${target} INTERFACE ${RRM_PLATFORM_${id}_LIBRARY} ${P_LINK})
endfunction()

# rrm_platform_program(VAR NAME <program> WHAT <text>): unless the cache
# entry VAR names a program already, VAR becomes (in the caller's scope) the
# program found in the prefix; a missing one is noted like a missing library.
function(rrm_platform_program var)
  cmake_parse_arguments(P "" "NAME;WHAT" "" ${ARGN})
  if(${var})
    return()
  endif()
  find_program(RRM_PLATFORM_PROGRAM_${var} ${P_NAME})
  if(RRM_PLATFORM_PROGRAM_${var})
    set(${var} "${RRM_PLATFORM_PROGRAM_${var}}" PARENT_SCOPE)
  else()
    set_property(GLOBAL APPEND PROPERTY RRM_PLATFORM_MISSING
                 "program ${P_NAME} (${P_WHAT}, for the tests: -DRRM_TESTS=OFF builds without it)")
  endif()
endfunction()

function(rrm_platform_check)
  get_property(missing GLOBAL PROPERTY RRM_PLATFORM_MISSING)
  if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "The platform's libraries: not found in the sysroot or CMAKE_PREFIX_PATH "
                        "(${CMAKE_PREFIX_PATH}):\n  ${text}")
  endif()
endfunction()

# Every platform library the daemon and the tools for the access point link,
# and, for the tests, the platform's programs they start.
macro(rrm_use_system_platform)
  # The daemon's own declarations of three interfaces, each seen by the
  # library's users alone in a folder (not the rest of rrm/).
  set(_own ${CMAKE_BINARY_DIR}/platform_interfaces)
  configure_file(${CMAKE_SOURCE_DIR}/db/parser_module.h ${_own}/parser/parser_module.h COPYONLY)
  configure_file(${CMAKE_SOURCE_DIR}/rrm/common_log.h ${_own}/common_log/common_log.h COPYONLY)
  configure_file(${CMAKE_SOURCE_DIR}/rrm/sta.h ${_own}/sta/sta.h COPYONLY)
  rrm_platform_library(ubox LIB ubox HEADERS libubox/blobmsg.h libubox/uloop.h
                       WHAT "blob/blobmsg and event loop")
  rrm_platform_library(ubus LIB ubus HEADERS libubus.h LINK ubox WHAT "bus client")
  rrm_platform_library(parser LIB parser OWN_INCLUDE ${_own}/parser WHAT "status database client")
  rrm_platform_library(common_log LIB common_log OWN_INCLUDE ${_own}/common_log WHAT "common log")
  # The station-event library's loop is libev's, which the daemon also uses.
  rrm_platform_library(sta LIB sta OWN_INCLUDE ${_own}/sta OPTIONAL_HEADERS sta_lib_ext.h
                       LINK ev::ev WHAT "station-event library")
  rrm_platform_library(hvkit LIB hvkit HEADERS hvkit.h WHAT "model library")
  rrm_platform_library(wpa3info LIB wpa3info HEADERS wpa3info.h WHAT "WPA3 SSID library")
  rrm_platform_library(rrm_common LIB rrm_common HEADERS platform_utils.h
                       WHAT "MAC and process utilities")
  if(RRM_TESTS AND NOT RRM_FUZZ)
    rrm_platform_program(RRM_UBUSD NAME ubusd WHAT "bus daemon")
    rrm_platform_program(RRM_UBUS_TOOL NAME ubus WHAT "bus tool")
    rrm_platform_program(RRM_DBCTL NAME dbctl WHAT "status database tool")
    rrm_platform_program(RRM_STA_PUB NAME sta_pub WHAT "station-event publisher")
    rrm_platform_program(RRM_STA_MON NAME sta_mon WHAT "station-event monitor")
  endif()
  rrm_platform_check()
endmacro()
