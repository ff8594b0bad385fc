# The Windows programs: the real platform backend, wide entry points (wmain), a version resource
# and an application manifest, and a static runtime, so that each .exe needs nothing beside it.
enable_language(RC)

# Every binary of this build is self-contained.
set(ORVCARD_WINDOWS_LINK_OPTIONS -static -static-libgcc -static-libstdc++)

# A console program whose entry point is wmain.
function(orvcard_windows_program name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-municode>)
  target_link_options(${name} PRIVATE -municode ${ORVCARD_WINDOWS_LINK_OPTIONS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE orvcard_warnings)
endfunction()

add_library(orvcard_host STATIC
  ${CMAKE_SOURCE_DIR}/frontend/host_win32.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/win32_windows.cpp)
target_link_libraries(orvcard_host PUBLIC orvcard_core setupapi PRIVATE orvcard_warnings)

# orvcard and orvcard-op share the resource script, which tells them apart by ORVCARD_OP.
set(ORVCARD_RESOURCE ${CMAKE_SOURCE_DIR}/platform/win32/orvcard.rc)
set_source_files_properties(${ORVCARD_RESOURCE} PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/orvcard.manifest)
orvcard_windows_program(orvcard frontend/orvcard_main.cpp ${ORVCARD_RESOURCE})
orvcard_windows_program(orvcard-op frontend/orvcard_op_main.cpp ${ORVCARD_RESOURCE})
target_compile_definitions(orvcard-op PRIVATE $<$<COMPILE_LANGUAGE:RC>:ORVCARD_OP>)
target_link_libraries(orvcard PRIVATE orvcard_host)
target_link_libraries(orvcard-op PRIVATE orvcard_host)

# Helpers of the Windows end-to-end test (tests/wine): stand-ins for the package installer, the
# COM port database library and the driver-package library, a registry dump that keeps data
# byte for byte, and the checks of the backend itself.
if(ORVCARD_TESTS)
  set(ORVCARD_WINE_TEST_DIR ${CMAKE_SOURCE_DIR}/tests/wine)

  # A library that stands in for a system one: its file name, and undecorated export names in
  # the 32-bit build too.
  function(orvcard_wine_test_library name file_name)
    add_library(${name} SHARED ${ARGN})
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${file_name} PREFIX "")
    target_link_options(${name} PRIVATE -Wl,--kill-at ${ORVCARD_WINDOWS_LINK_OPTIONS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE orvcard_warnings)
  endfunction()

  orvcard_windows_program(fake_dpinst ${ORVCARD_WINE_TEST_DIR}/fake_dpinst.cpp)
  orvcard_windows_program(reg_dump ${ORVCARD_WINE_TEST_DIR}/reg_dump.cpp)
  orvcard_windows_program(win32_backend_check ${ORVCARD_WINE_TEST_DIR}/win32_backend_check.cpp)
  target_link_libraries(win32_backend_check PRIVATE orvcard_host)
  orvcard_wine_test_library(fake_msports msports ${ORVCARD_WINE_TEST_DIR}/fake_msports.cpp)
  orvcard_wine_test_library(fake_difxapi DIFxAPI ${ORVCARD_WINE_TEST_DIR}/fake_difxapi.cpp)
endif()
