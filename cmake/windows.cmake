# The Windows build (cross-built with cmake/mingw-w64-x86_64.cmake):
#   tarnintr.dll  the Interpreter as an in-process automation server, with
#                 its type library embedded;
#   tarnhost.dll  the default host components as a COM server of their own;
#   tests/windows the test hosts that run under Wine.
# Included from the top-level CMakeLists.txt after the source lists.

# GCC 12's -Wrestrict misfires on string concatenation inlined at -O2
# (GCC bug 105329), in the library and the test hosts alike.
add_compile_options(-Wno-restrict)

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
  platform/windows/thread_exit_order.cc
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
# 32-bit: the exports' __stdcall names go out undecorated, as regsvr32 and
# CoGetClassObject look them up.
set(TARN_WIN_DLL_OPTIONS "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TARN_WIN_DLL_OPTIONS -Wl,--kill-at)
endif()

add_library(tarn_win_objs OBJECT ${TARN_WIN_SOURCES})
target_include_directories(tarn_win_objs PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(tarn_win_objs SYSTEM PRIVATE ${TARN_WIN_INCLUDE})
target_compile_definitions(tarn_win_objs PUBLIC
  TARN_BUILDING_LIBRARY UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_compile_definitions(tarn_win_objs PRIVATE FMT_HEADER_ONLY SPDLOG_HEADER_ONLY SPDLOG_WCHAR_FILENAMES)
tarn_enable_warnings(tarn_win_objs)

# The type library, compiled from IDL and embedded as resource 1.
set(TARN_TLB ${CMAKE_CURRENT_BINARY_DIR}/tarnintr.tlb)
set(TARN_IDL ${CMAKE_CURRENT_SOURCE_DIR}/registration/windows/tarnintr.idl)
# widl reads stdole2.tlb (from Wine) for importlib; either width will do.
find_path(TARN_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
    /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows
  NO_CMAKE_FIND_ROOT_PATH)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TARN_WIDL_TARGET --win64)
else()
  set(TARN_WIDL_TARGET --win32)
endif()
if(NOT TARN_STDOLE_DIR)
  message(FATAL_ERROR "stdole2.tlb not found: install wine64 (scripts/deps.sh)")
endif()
add_custom_command(OUTPUT ${TARN_TLB}
  COMMAND ${TARN_WIDL} ${TARN_WIDL_TARGET} -L ${TARN_STDOLE_DIR} -t -o ${TARN_TLB} ${TARN_IDL}
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
target_link_libraries(tarnintr PRIVATE tarn_win_objs ${TARN_WIN_SYSTEM_LIBS} ${TARN_WIN_STATIC_RUNTIME}
  ${TARN_WIN_DLL_OPTIONS})
set_target_properties(tarnintr PROPERTIES PREFIX "" OUTPUT_NAME tarnintr)
tarn_enable_warnings(tarnintr)

# The default host components: its own copy of the library's objects, so
# that it needs nothing but the system beside it.
add_library(tarnhost SHARED
  host/windows/host_server.cc
  host/windows/tarnhost.rc)
target_link_libraries(tarnhost PRIVATE tarn_win_objs ${TARN_WIN_SYSTEM_LIBS} ${TARN_WIN_STATIC_RUNTIME}
  ${TARN_WIN_DLL_OPTIONS})
set_target_properties(tarnhost PROPERTIES PREFIX "" OUTPUT_NAME tarnhost)
tarn_enable_warnings(tarnhost)

# The test hosts (run under Wine by scripts/run-wine-tests.sh).
add_executable(com_host tests/windows/com_host.cc)
target_include_directories(com_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_compile_definitions(com_host PRIVATE UNICODE _UNICODE)
target_link_libraries(com_host PRIVATE ole32 oleaut32 uuid ${TARN_WIN_STATIC_RUNTIME})
tarn_enable_warnings(com_host)
# The hostile host: re-entry, misbehaving collections, threads.
add_executable(hostile_host tests/windows/hostile_host.cc)
target_compile_definitions(hostile_host PRIVATE UNICODE _UNICODE)
target_link_libraries(hostile_host PRIVATE ole32 oleaut32 uuid ${TARN_WIN_STATIC_RUNTIME})
tarn_enable_warnings(hostile_host)

# The GoogleTest suites that test the library itself rather than the Linux
# platform (the .reg-file registry, dlopen, the tools), built from Debian's
# googletest sources with the cross compiler. They read the source tree
# through Wine's Z: drive.
option(TARN_WIN_BUILD_TESTS "Build the GoogleTest suites as Windows programs" ON)
if(TARN_WIN_BUILD_TESTS AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(TARN_WIN_TESTS
    text_test evaluate_test interpreter_test limits_test threads_test expression_table_test
    language_doc_test fuzz_replay_test debug_log_test registry_test)
  foreach(name IN LISTS TARN_WIN_TESTS)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/${name}.cc)
      continue()
    endif()
    add_executable(${name} tests/${name}.cc tests/windows/gtest_main.cc)
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE TARN_SOURCE_DIR="Z:${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(${name} PRIVATE tarn_win_objs gtest gmock ${TARN_WIN_SYSTEM_LIBS}
      ${TARN_WIN_STATIC_RUNTIME})
    # The in-memory and .reg-file registries these suites set up in place
    # of the system's.
    if(name STREQUAL "debug_log_test" OR name STREQUAL "registry_test")
      target_sources(${name} PRIVATE support/registry_memory.cc support/registry_file.cc)
    endif()
  endforeach()
endif()

# The installer of this width, tarnintr-<version>-x86.msi or -x64.msi, made
# with Debian's wixl from installer/tarnintr.wxs; msibuild (msitools) adds
# the component conditions that wixl cannot express. Windows Installer
# compares only the first three fields of a version, so the package carries
# major.minor.revision.
find_program(TARN_WIXL wixl)
find_program(TARN_MSIBUILD msibuild)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TARN_MSI_ARCH x64)
else()
  set(TARN_MSI_ARCH x86)
endif()
set(TARN_MSI ${CMAKE_BINARY_DIR}/tarnintr-${PROJECT_VERSION}-${TARN_MSI_ARCH}.msi)
set(TARN_WXS ${CMAKE_CURRENT_SOURCE_DIR}/installer/tarnintr.wxs)
set(TARN_MSI_SQL ${CMAKE_CURRENT_SOURCE_DIR}/installer/progid-conditions.sql)
if(TARN_WIXL AND TARN_MSIBUILD)
  file(STRINGS ${TARN_MSI_SQL} TARN_MSI_QUERIES)
  set(TARN_MSI_QUERY_COMMANDS)
  foreach(query IN LISTS TARN_MSI_QUERIES)
    list(APPEND TARN_MSI_QUERY_COMMANDS COMMAND ${TARN_MSIBUILD} ${TARN_MSI}.tmp -q "${query}")
  endforeach()
  add_custom_command(OUTPUT ${TARN_MSI}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${TARN_MSI}.tmp
    COMMAND ${TARN_WIXL} -a ${TARN_MSI_ARCH} -D Arch=${TARN_MSI_ARCH}
      -D Version=${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_TWEAK}
      -o ${TARN_MSI}.tmp ${TARN_WXS}
    ${TARN_MSI_QUERY_COMMANDS}
    COMMAND ${CMAKE_COMMAND} -E rename ${TARN_MSI}.tmp ${TARN_MSI}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:tarnintr>
    DEPENDS tarnintr tarnhost $<TARGET_FILE:tarnintr> $<TARGET_FILE:tarnhost> ${TARN_WXS} ${TARN_MSI_SQL}
    COMMENT "Installer ${TARN_MSI}"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${TARN_MSI})
else()
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo "wixl and msibuild are needed for the installer (scripts/deps.sh)"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
