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
  target_link_libraries(${name} PRIVATE orvcard_warnings)
endfunction()

add_library(orvcard_host STATIC
  ${CMAKE_SOURCE_DIR}/frontend/host_win32.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/win32_windows.cpp)
target_link_libraries(orvcard_host PUBLIC orvcard_frontend setupapi PRIVATE orvcard_warnings)

# orvcard and orvcard-op share the resource script, which tells them apart by ORVCARD_OP.
set(ORVCARD_RESOURCE ${CMAKE_SOURCE_DIR}/platform/win32/orvcard.rc)
set_source_files_properties(${ORVCARD_RESOURCE} PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/orvcard.manifest)
orvcard_windows_program(orvcard frontend/orvcard_main.cpp ${ORVCARD_RESOURCE})
orvcard_windows_program(orvcard-op frontend/orvcard_op_main.cpp ${ORVCARD_RESOURCE})
target_compile_definitions(orvcard-op PRIVATE $<$<COMPILE_LANGUAGE:RC>:ORVCARD_OP>)
target_link_libraries(orvcard PRIVATE orvcard_host)
target_link_libraries(orvcard-op PRIVATE orvcard_host)

# What a release holds: the two programs and their documents, nothing the tests use.
install(TARGETS orvcard orvcard-op RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ORVCARD_ARCHITECTURE x64)
else()
  set(ORVCARD_ARCHITECTURE x86)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win-${ORVCARD_ARCHITECTURE})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The helpers of the Windows end-to-end test are built in a folder of their own
# (tests/wine below the build folder), never beside the programs: a stand-in library there
# would be loaded in place of the platform's.
if(ORVCARD_TESTS)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/wine ${CMAKE_BINARY_DIR}/tests/wine)
endif()
