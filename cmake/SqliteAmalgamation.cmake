# SQLite::SQLite3 for the Windows build, from the amalgamation that
# scripts/fetch-sqlite fetched: checked against the pinned hashes before it is
# compiled, so a changed or torn copy never goes into a program.
file(STRINGS ${PROJECT_SOURCE_DIR}/third_party/sqlite/amalgamation.env pins REGEX "^[A-Z0-9_]+=")
foreach(pin IN LISTS pins)
  string(REGEX MATCH "^([A-Z0-9_]+)=(.*)$" _ "${pin}")
  set(pin_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
set(BRINTEL_SQLITE_DIR ${PROJECT_SOURCE_DIR}/build/third_party/sqlite-${pin_SQLITE_VERSION}
    CACHE PATH "SQLite's amalgamation (sqlite3.c, sqlite3.h) for the Windows build")
foreach(file C H)
  string(TOLOWER ${file} extension)
  set(path ${BRINTEL_SQLITE_DIR}/sqlite3.${extension})
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "${path} is missing: run scripts/fetch-sqlite")
  endif()
  file(SHA256 ${path} actual)
  if(NOT actual STREQUAL pin_SQLITE3_${file}_SHA256)
    message(FATAL_ERROR "${path}: SHA-256 ${actual} is not the pinned "
                        "${pin_SQLITE3_${file}_SHA256}; run scripts/fetch-sqlite again")
  endif()
endforeach()

enable_language(C)
add_library(brintel_sqlite3 STATIC ${BRINTEL_SQLITE_DIR}/sqlite3.c)
target_include_directories(brintel_sqlite3 SYSTEM PUBLIC ${BRINTEL_SQLITE_DIR})
# Serialized threading as Debian builds it; no extension loading, which a
# program that opens only its own records has no use for.
target_compile_definitions(brintel_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                                                   SQLITE_DQS=0)
add_library(SQLite::SQLite3 ALIAS brintel_sqlite3)
