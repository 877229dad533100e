# The bounded fuzz run of CTest: new inputs, mutated from the seed corpus with a fixed seed, written to a directory
# emptied first, so that inputs left by earlier runs (tools/fuzz.sh keeps its own elsewhere) are never read and
# the run is the same on every machine. cmake -DFUZZER=... -DCORPUS=... -DFOUND=... -DRUNS=... -DARTIFACTS=... -P
file(REMOVE_RECURSE ${FOUND})
file(MAKE_DIRECTORY ${FOUND})
execute_process(COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                        ${FUZZER} -runs=${RUNS} -seed=20261208 -max_len=2048 -artifact_prefix=${ARTIFACTS}/
                        ${FOUND} ${CORPUS}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the fuzzer stopped with ${result}; the failing input is saved in ${ARTIFACTS}")
endif()
