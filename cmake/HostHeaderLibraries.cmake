# CLI11 and nlohmann-json for the Windows cross build: both are headers only,
# and Debian's copies are the ones the Linux build uses. Only their own folders
# are put on the include path: the rest of /usr/include is Linux's.
set(hostHeaders ${CMAKE_BINARY_DIR}/host-headers)
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps")
  endif()
  file(MAKE_DIRECTORY ${hostHeaders})
  file(CREATE_LINK /usr/include/${folder} ${hostHeaders}/${folder} SYMBOLIC)
endforeach()
add_library(brintel_host_cli11 INTERFACE)
target_include_directories(brintel_host_cli11 SYSTEM INTERFACE ${hostHeaders})
add_library(CLI11::CLI11 ALIAS brintel_host_cli11)
add_library(brintel_host_json INTERFACE)
target_include_directories(brintel_host_json SYSTEM INTERFACE ${hostHeaders})
add_library(nlohmann_json::nlohmann_json ALIAS brintel_host_json)
