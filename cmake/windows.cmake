# The Windows build (cross-built with cmake/mingw-w64-x86_64.cmake):
#   tarnintr.dll  the Interpreter as an in-process automation server, with
#                 its type library embedded;
#   tarnhost.dll  the default host components as a COM server of their own;
#   tests/windows the test hosts that run under Wine.
# Included from the top-level CMakeLists.txt after the source lists.

# ICU is replaced by the platform's own text functions; the .reg-file and
# in-memory registry backends and the class-table registration stay on
# Linux, where there is no system registry.
set(TARN_WIN_SOURCES ${TARN_PLATFORM_SOURCES} ${TARN_HOST_SOURCES} ${TARN_CORE_SOURCES})
list(REMOVE_ITEM TARN_WIN_SOURCES
  platform/text.cc
  support/registry_file.cc
  support/registry_memory.cc
  registration/exports.cc)
list(APPEND TARN_WIN_SOURCES
  platform/windows/text.cc
  platform/windows/com_variant.cc
  platform/windows/dispatch_object.cc
  platform/windows/com_object.cc
  platform/windows/com_classes.cc
  registration/windows/com_server.cc)

# spdlog and fmt header-only: Debian has no Windows builds of them. Only
# their own folders are put on the include path, not all of /usr/include.
set(TARN_WIN_INCLUDE ${CMAKE_BINARY_DIR}/win-include)
file(MAKE_DIRECTORY ${TARN_WIN_INCLUDE})
foreach(dir spdlog fmt)
  if(NOT EXISTS ${TARN_WIN_INCLUDE}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${TARN_WIN_INCLUDE}/${dir} SYMBOLIC)
  endif()
endforeach()

# The runtime is linked in, so that the DLLs and programs need nothing
# beside them.
set(TARN_WIN_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
set(TARN_WIN_SYSTEM_LIBS ole32 oleaut32 uuid advapi32)

add_library(tarn_win_objs OBJECT ${TARN_WIN_SOURCES})
target_include_directories(tarn_win_objs PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(tarn_win_objs SYSTEM PRIVATE ${TARN_WIN_INCLUDE})
target_compile_definitions(tarn_win_objs PUBLIC
  TARN_BUILDING_LIBRARY UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_compile_definitions(tarn_win_objs PRIVATE FMT_HEADER_ONLY SPDLOG_HEADER_ONLY)
tarn_enable_warnings(tarn_win_objs)

# The type library, compiled from IDL and embedded as resource 1.
set(TARN_TLB ${CMAKE_CURRENT_BINARY_DIR}/tarnintr.tlb)
set(TARN_IDL ${CMAKE_CURRENT_SOURCE_DIR}/registration/windows/tarnintr.idl)
find_path(TARN_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT TARN_STDOLE_DIR)
  message(FATAL_ERROR "stdole2.tlb not found: install wine64 (scripts/deps.sh)")
endif()
add_custom_command(OUTPUT ${TARN_TLB}
  COMMAND ${TARN_WIDL} --win64 -L ${TARN_STDOLE_DIR} -t -o ${TARN_TLB} ${TARN_IDL}
  DEPENDS ${TARN_IDL}
  COMMENT "Type library tarnintr.tlb")
add_custom_target(tarnintr_tlb DEPENDS ${TARN_TLB})

enable_language(RC)
add_library(tarnintr SHARED
  registration/windows/exports.cc
  registration/windows/tarnintr.rc)
add_dependencies(tarnintr tarnintr_tlb)
set_source_files_properties(registration/windows/tarnintr.rc PROPERTIES
  OBJECT_DEPENDS ${TARN_TLB})
target_include_directories(tarnintr PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(tarnintr PRIVATE tarn_win_objs ${TARN_WIN_SYSTEM_LIBS} ${TARN_WIN_STATIC_RUNTIME})
set_target_properties(tarnintr PROPERTIES PREFIX "" OUTPUT_NAME tarnintr)
tarn_enable_warnings(tarnintr)

# The default host components: its own copy of the library's objects, so
# that it needs nothing but the system beside it.
add_library(tarnhost SHARED
  host/windows/host_server.cc
  host/windows/tarnhost.rc)
target_link_libraries(tarnhost PRIVATE tarn_win_objs ${TARN_WIN_SYSTEM_LIBS} ${TARN_WIN_STATIC_RUNTIME})
set_target_properties(tarnhost PROPERTIES PREFIX "" OUTPUT_NAME tarnhost)
tarn_enable_warnings(tarnhost)

# The test hosts (run under Wine by scripts/run-wine-tests.sh).
add_executable(com_host tests/windows/com_host.cc)
target_include_directories(com_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_compile_definitions(com_host PRIVATE UNICODE _UNICODE)
target_link_libraries(com_host PRIVATE ole32 oleaut32 uuid ${TARN_WIN_STATIC_RUNTIME})
tarn_enable_warnings(com_host)
