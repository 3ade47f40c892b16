# Fails when a file of the portable core (engine/, device/, server/, without
# their posix/ and win32/ adapters) or of the run driver (run/) includes
# anything but the C++ standard library and the core itself (and run/ itself),
# or when device/ or server/ include engine/: a platform, front-end or
# simulator header would tie them to one system, and the cross build would not
# catch a POSIX one.
#   cmake -DSOURCE_DIR=<repository> -P CheckCoreIncludes.cmake

cmake_minimum_required(VERSION 3.25)

set(standard
  algorithm any array atomic barrier bit bitset cassert cctype cerrno cfloat charconv chrono
  cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine
  csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype
  deque exception execution filesystem format forward_list fstream functional future
  initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map
  memory memory_resource mutex new numbers numeric optional ostream queue random ranges ratio
  regex scoped_allocator semaphore set shared_mutex source_location span sstream stack
  stdexcept stop_token streambuf string string_view syncstream system_error thread tuple
  type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector
  version)

set(offences "")
foreach(folder engine device server run)
  file(GLOB files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "<([^>]+)>")
        if(NOT CMAKE_MATCH_1 IN_LIST standard)
          string(APPEND offences "\n  ${file}: ${line}")
        endif()
      elseif(line MATCHES "\"([^\"]+)\"")
        set(header "${CMAKE_MATCH_1}")
        # The engine drives the device link and the server formats, never the reverse.
        # The run driver sits on the core and uses nothing of the front ends.
        if(NOT header MATCHES "^(engine|device|server|run)/[^/]+$" OR
           (NOT folder STREQUAL "run" AND header MATCHES "^run/") OR
           (NOT folder MATCHES "^(engine|run)$" AND header MATCHES "^engine/"))
          string(APPEND offences "\n  ${file}: ${line}")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  message(FATAL_ERROR "the portable core or the run driver includes headers outside it:${offences}")
endif()
message(STATUS "the portable core and the run driver include only themselves and the standard library")
