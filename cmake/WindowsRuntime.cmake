# The MinGW-w64 build's runtime: the Qt libraries and plugins, libmosquitto with OpenSSL,
# and the compiler's C++ runtime, stripped and copied beside the executables, so that the
# programs and tests in bin/ run as they are (under Wine too) and the installer takes the
# same files.

if(KORVAN_BUILD_TESTS)
    find_package(Qt6 REQUIRED COMPONENTS Test)
endif()

set(korvan_runtime_dir ${PROJECT_BINARY_DIR}/bin)
set(korvan_runtime_stamps)

# korvan_deploy_runtime(FOLDER <folder below bin> FILES <files...> [INSTALL]): each file,
# stripped, beside the executables; INSTALL: into the packages too. The files may be
# generator expressions (Qt's imported targets), resolved only at build time, so each
# copy's stamp is named after its place in the list, not its file.
function(korvan_deploy_runtime)
    cmake_parse_arguments(D "INSTALL" "FOLDER" "FILES" ${ARGN})
    set(destination ${korvan_runtime_dir}/${D_FOLDER})
    set(stamps ${korvan_runtime_stamps})
    foreach(source IN LISTS D_FILES)
        set(name $<PATH:GET_FILENAME,${source}>)
        list(LENGTH stamps index)
        set(stamp ${PROJECT_BINARY_DIR}/runtime-stamps/${index}.stamp)
        add_custom_command(OUTPUT ${stamp}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${destination}
            COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${destination}/${name} ${source}
            COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
            DEPENDS ${source}
            COMMENT "Deploying ${D_FOLDER}/${name}"
            VERBATIM)
        list(APPEND stamps ${stamp})
        if(D_INSTALL)
            install(FILES ${destination}/${name} DESTINATION ${CMAKE_INSTALL_BINDIR}/${D_FOLDER})
        endif()
    endforeach()
    set(korvan_runtime_stamps ${stamps} PARENT_SCOPE)
endfunction()

set(korvan_compiler_runtime)
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler does not know where ${library} is")
    endif()
    list(APPEND korvan_compiler_runtime ${path})
endforeach()

korvan_deploy_runtime(FOLDER . INSTALL FILES
    $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
    $<TARGET_FILE:Qt6::Network> ${korvan_compiler_runtime})
# OpenSSL's DLLs are named after its ABI; libmosquitto is the only one that loads them.
korvan_deploy_runtime(FOLDER . INSTALL FILES $<TARGET_FILE:korvan_mosquitto>
    ${KORVAN_MOSQUITTO_DIR}/bin/libssl-3-x64.dll ${KORVAN_MOSQUITTO_DIR}/bin/libcrypto-3-x64.dll)
korvan_deploy_runtime(FOLDER platforms INSTALL FILES
    $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>)
korvan_deploy_runtime(FOLDER styles INSTALL FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>)
# Only the tests need these.
korvan_deploy_runtime(FOLDER platforms FILES
    $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin>
    $<TARGET_FILE:Qt6::QMinimalIntegrationPlugin>)
if(KORVAN_BUILD_TESTS)
    korvan_deploy_runtime(FOLDER . FILES $<TARGET_FILE:Qt6::Test>)
endif()

add_custom_target(korvan-runtime ALL DEPENDS ${korvan_runtime_stamps})
