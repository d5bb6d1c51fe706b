# A seconds-long libFuzzer run of every target, for the everyday test suite:
# cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DCOMPILER=clang++-14 -DSECONDS=5 -P smoke.cmake
foreach(var SOURCE_DIR BINARY_DIR COMPILER SECONDS)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "smoke.cmake needs -D${var}=...")
    endif()
endforeach()

# Leaks inside the system's font and display libraries are theirs, as in the test suite.
set(ENV{LSAN_OPTIONS} "suppressions=${SOURCE_DIR}/tests/lsan.supp")
set(ENV{QT_QPA_PLATFORM} offscreen)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}")
    endif()
endfunction()

if(NOT EXISTS ${BINARY_DIR}/CMakeCache.txt)
    run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G Ninja
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=${COMPILER}
        -DKORVAN_BUILD_TESTS=OFF -DKORVAN_BUILD_FUZZ=ON)
endif()
run(${CMAKE_COMMAND} --build ${BINARY_DIR} -j 2 --target fuzz_checkdigit fuzz_inbound fuzz_panel)

foreach(entry checkdigit:checkdigit inbound:inbound panel:inbound)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 corpus)
    set(work ${BINARY_DIR}/smoke-corpus-${name})
    file(MAKE_DIRECTORY ${work})
    run(${BINARY_DIR}/bin/fuzz_${name} -max_total_time=${SECONDS} -print_final_stats=1
        -artifact_prefix=${BINARY_DIR}/smoke-${name}- ${work} ${SOURCE_DIR}/fuzz/corpus/${corpus})
endforeach()
