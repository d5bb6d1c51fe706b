# The MinGW-w64 build's runtime: the Qt libraries and plugins and the compiler's C++
# runtime, stripped and copied beside the executables, so that the programs and tests in
# bin/ run as they are (under Wine too) and the installer takes the same files.

find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network)
if(KORVAN_BUILD_TESTS)
    find_package(Qt6 REQUIRED COMPONENTS Test)
endif()

set(korvan_runtime_dir ${PROJECT_BINARY_DIR}/bin)

# <folder below bin>|<file> pairs; files from Qt's imported targets or the compiler.
set(korvan_runtime_installed
    ".|$<TARGET_FILE:Qt6::Core>"
    ".|$<TARGET_FILE:Qt6::Gui>"
    ".|$<TARGET_FILE:Qt6::Widgets>"
    ".|$<TARGET_FILE:Qt6::Network>"
    "platforms|$<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>"
    "styles|$<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>")
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler does not know where ${library} is")
    endif()
    list(APPEND korvan_runtime_installed ".|${path}")
endforeach()
# Only the tests need these.
set(korvan_runtime_test_only
    "platforms|$<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin>"
    "platforms|$<TARGET_FILE:Qt6::QMinimalIntegrationPlugin>")
if(KORVAN_BUILD_TESTS)
    list(APPEND korvan_runtime_test_only ".|$<TARGET_FILE:Qt6::Test>")
endif()

set(korvan_runtime_outputs)
foreach(entry IN LISTS korvan_runtime_installed korvan_runtime_test_only)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 folder)
    list(GET entry 1 source)
    # The destination name is the source's; generator expressions are resolved at build
    # time, so the stamp carries the entry's position instead.
    list(LENGTH korvan_runtime_outputs index)
    set(stamp ${PROJECT_BINARY_DIR}/runtime-stamps/${index}.stamp)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${korvan_runtime_dir}/${folder}
        COMMAND ${CMAKE_STRIP} --strip-unneeded -o
            ${korvan_runtime_dir}/${folder}/$<PATH:GET_FILENAME,${source}> ${source}
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${source}
        COMMENT "Deploying ${folder}/$<PATH:GET_FILENAME,${source}>"
        VERBATIM)
    list(APPEND korvan_runtime_outputs ${stamp})
endforeach()
add_custom_target(korvan-runtime ALL DEPENDS ${korvan_runtime_outputs})

foreach(entry IN LISTS korvan_runtime_installed)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 folder)
    list(GET entry 1 source)
    install(FILES ${korvan_runtime_dir}/${folder}/$<PATH:GET_FILENAME,${source}>
        DESTINATION ${CMAKE_INSTALL_BINDIR}/${folder})
endforeach()
