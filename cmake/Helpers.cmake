# Small helpers shared by every component's CMakeLists.txt.

# Adds DIR when it holds a CMakeLists.txt.
function(rrm_add_subdirs dir)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endfunction()

# Adds every child folder of DIR that holds a CMakeLists.txt, in name order.
function(rrm_add_children dir)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${child})
      add_subdirectory(${child} ${CMAKE_BINARY_DIR}/${rel})
    endif()
  endforeach()
endfunction()

# rrm_add_gtest(NAME SOURCES a.cpp b.cpp LIBS x y [LABELS l] [TIMEOUT s])
# A GoogleTest executable registered with CTest. Nothing in a fuzz build.
function(rrm_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(RRM_FUZZ OR NOT RRM_TESTS)
    # Still defined (so a component may set properties on it) but never built
    # nor registered.
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
    if(TARGET GTest::gtest)
      target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  # Every test finds the platform's programs it starts in SIM_<TOOL>: the
  # program the cache entry names (the platform's own), else ours.
  set(env "RRM_SOURCE_DIR=${CMAKE_SOURCE_DIR};RRM_BINARY_DIR=${CMAKE_BINARY_DIR}")
  foreach(tool UBUSD:RRM_UBUSD:ubusd UBUS:RRM_UBUS_TOOL:ubus_cli DBCTL:RRM_DBCTL:dbctl
               STA_PUB:RRM_STA_PUB:sta_pub STA_MON:RRM_STA_MON:sta_mon)
    string(REPLACE ":" ";" tool "${tool}")
    list(GET tool 0 env_name)
    list(GET tool 1 var)
    list(GET tool 2 tgt)
    if(${var})
      list(APPEND env "SIM_${env_name}=${${var}}")
    elseif(TARGET ${tgt})
      list(APPEND env "SIM_${env_name}=$<TARGET_FILE:${tgt}>")
    endif()
  endforeach()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
  # Tests built on the simulator's harness start the daemon with the
  # preloaded pause shim, which a statically linked daemon cannot take: the
  # label lets such a build leave them out.
  if(T_SOURCES MATCHES "sim_harness")
    list(APPEND T_LABELS simulator)
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# rrm_add_fuzzer(NAME SOURCES a.cpp LIBS x y)
# A libFuzzer target, built only with RRM_FUZZ. Binaries land in
# ${CMAKE_BINARY_DIR}/fuzzers so scripts/fuzz.sh finds every one of them;
# a seed corpus, when there is one, is tests/<component>/corpus/<NAME>/.
function(rrm_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT RRM_FUZZ)
    # Defined but never built outside the fuzz build.
    add_executable(${name} EXCLUDE_FROM_ALL ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
endfunction()

find_package(Threads REQUIRED)

# libev, found like any other outside library so a cross build's sysroot is
# searched too. Link it as ev::ev.
find_path(EV_INCLUDE_DIR ev.h REQUIRED)
find_library(EV_LIBRARY ev REQUIRED)
add_library(ev::ev UNKNOWN IMPORTED)
set_target_properties(ev::ev PROPERTIES IMPORTED_LOCATION ${EV_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${EV_INCLUDE_DIR})

include(GNUInstallDirs)

# rrm_install_ap(TARGET... [SBIN]): programs that go onto the access point
# (install component "ap"): the daemon into sbin (SBIN), tools into bin. A
# new tool's CMakeLists.txt adds itself with one line, anywhere in the file
# (the rule is made once the folder has been read):
#   rrm_install_ap(wlan_top)
function(rrm_install_ap)
  cmake_parse_arguments(I "SBIN" "" "" ${ARGN})
  if(RRM_FUZZ)
    return()
  endif()
  set(dest ${CMAKE_INSTALL_BINDIR})
  if(I_SBIN)
    set(dest ${CMAKE_INSTALL_SBINDIR})
  endif()
  # The deferred call's words are taken now (a deferred call would expand
  # them in the folder's scope, where these variables are not set).
  cmake_language(EVAL CODE "cmake_language(DEFER CALL install TARGETS ${I_UNPARSED_ARGUMENTS}
                                           RUNTIME DESTINATION ${dest} COMPONENT ap)")
endfunction()

# rrm_install_platform(TARGETS t... [SBIN] [HEADERS h... [HEADER_DIR d]]): a
# stand-in's libraries, programs and headers, laid out as the platform lays
# out its own (install component "platform"), so that installing a stand-in
# build makes a prefix to build the daemon against (-DRRM_PLATFORM=system).
function(rrm_install_platform)
  cmake_parse_arguments(I "SBIN" "HEADER_DIR" "TARGETS;HEADERS" ${ARGN})
  if(RRM_FUZZ)
    return()
  endif()
  set(bin ${CMAKE_INSTALL_BINDIR})
  if(I_SBIN)
    set(bin ${CMAKE_INSTALL_SBINDIR})
  endif()
  if(I_TARGETS)
    install(TARGETS ${I_TARGETS} COMPONENT platform
            RUNTIME DESTINATION ${bin}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
  if(I_HEADERS)
    install(FILES ${I_HEADERS} COMPONENT platform
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${I_HEADER_DIR})
  endif()
endfunction()
