# Common compile settings for every target of the project.
add_library(zf_options INTERFACE)
target_compile_options(zf_options INTERFACE -Wall -Wextra -Wno-unused-parameter)
# The lock-free list head swaps pointer and sequence with one 16-byte compare-exchange.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64")
  target_compile_options(zf_options INTERFACE -mcx16)
endif()
if(ZF_WERROR)
  target_compile_options(zf_options INTERFACE -Werror)
endif()
if(ZF_SANITIZE)
  target_compile_options(zf_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(zf_options INTERFACE -fsanitize=address,undefined)
endif()
# Fuzz builds instrument the libraries for coverage too, so the fuzzers are guided by the readers
# they exercise rather than by their own few lines. The dynamic-type check is left out there (the
# sanitized test builds keep it): it runs on every virtual call and would make each of its checks
# an edge of its own. The layers in ZF_FUZZ_PLAIN_LAYERS keep their edges but do not report their
# comparisons: the OS and run-time helpers and the server object model compare their own state,
# character by character in the string helpers, and tracing that cost a third of a whole-table
# input. The readers of stored bytes (dictionary, storage, index, mapping, client) and the
# foundation's stream and message readers keep it; so does the engine's settings reader, which
# lives in the server layer and has a target of its own. The standard library's templates are not
# instrumented at all (cmake/fuzz-coverage-ignore.txt; a change to that file needs a clean build).
set(ZF_FUZZ_PLAIN_LAYERS "platform_os;platform_rtl;server" CACHE STRING
    "Layers whose comparisons fuzz builds do not trace")
if(ZF_FUZZ)
  target_compile_options(zf_options INTERFACE -fsanitize=fuzzer-no-link -fno-sanitize=vptr
                         -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/cmake/fuzz-coverage-ignore.txt)
  set_source_files_properties(${PROJECT_SOURCE_DIR}/server/zfsrServerEngineComponent.cpp
                              PROPERTIES COMPILE_OPTIONS -fsanitize-coverage=trace-cmp)
endif()
if(ZF_TSAN)
  target_compile_options(zf_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(zf_options INTERFACE -fsanitize=thread)
endif()
if(ZF_MM_BACKEND STREQUAL "engine")
  target_compile_definitions(zf_options INTERFACE ZF_MM_ENGINE=1)
else()
  target_compile_definitions(zf_options INTERFACE ZF_MM_ENGINE=0)
endif()
find_package(Threads REQUIRED)
target_link_libraries(zf_options INTERFACE Threads::Threads ${CMAKE_DL_LIBS})
target_include_directories(zf_options INTERFACE ${PROJECT_SOURCE_DIR})

# zf_add_layer(NAME DIR folder DEPS lower layers... LIBS libraries... PRIVATE_LIBS libraries...)
# One static library per folder, built from every .cpp directly in that folder. A folder with no
# sources yet is an interface library, so the layer order stands before the code does. LIBS reach
# the layer's users with their include folders; PRIVATE_LIBS only link into them, so a library
# that one layer wraps (the window toolkit) stays out of every other layer's sources.
function(zf_add_layer name)
  cmake_parse_arguments(L "" "DIR" "DEPS;LIBS;PRIVATE_LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${L_DIR}/*.cpp)
  set(target zf_${name})
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_link_libraries(${target} PUBLIC zf_options)
    foreach(d ${L_DEPS})
      target_link_libraries(${target} PUBLIC zf_${d})
    endforeach()
    target_link_libraries(${target} PUBLIC ${L_LIBS})
    target_link_libraries(${target} PRIVATE ${L_PRIVATE_LIBS})
    if(ZF_FUZZ AND name IN_LIST ZF_FUZZ_PLAIN_LAYERS)
      target_compile_options(${target} PRIVATE -fno-sanitize-coverage=trace-cmp)
    endif()
  else()
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE zf_options)
    foreach(d ${L_DEPS})
      target_link_libraries(${target} INTERFACE zf_${d})
    endforeach()
    target_link_libraries(${target} INTERFACE ${L_LIBS})
  endif()
endfunction()
