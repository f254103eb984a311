# A fuzz target's test: replays every input of its seed corpus once.
#   cmake -DTARGET=<fuzz target> -DCORPUS=<folder> -DARTIFACTS=<prefix> -P replay.cmake
# libFuzzer given an empty folder runs the empty input alone and passes, so a corpus that was
# lost or never committed would leave a passing test that checks nothing: that fails here.
if(NOT IS_DIRECTORY "${CORPUS}")
  message(FATAL_ERROR "no seed corpus: ${CORPUS} is not a folder")
endif()
file(GLOB inputs LIST_DIRECTORIES false "${CORPUS}/*")
list(FILTER inputs EXCLUDE REGEX "/\\.[^/]*$")
list(LENGTH inputs count)
if(count EQUAL 0)
  message(FATAL_ERROR "no seed corpus: ${CORPUS} holds no input")
endif()
message(STATUS "replaying ${count} inputs from ${CORPUS}")
execute_process(COMMAND "${TARGET}" -runs=0 "-artifact_prefix=${ARTIFACTS}" "${CORPUS}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TARGET} failed on its seed corpus: ${result}")
endif()
