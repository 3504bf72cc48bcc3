# One bounded fuzzing run: replaces the working corpus with a fresh copy of the seeds
# (so every run starts from the same inputs and the seeds are never written), then
# runs the fuzzer on it and fails when the fuzzer does.
#   cmake -DFUZZER=<binary> -DSEEDS=<seed dir> -DWORK=<working dir>
#         -DOPTIONS=<options, |-separated> -P run_fuzzer.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(GLOB seeds "${SEEDS}/*")
if(seeds)
  file(COPY ${seeds} DESTINATION "${WORK}")
endif()
string(REPLACE "|" ";" options "${OPTIONS}")
execute_process(COMMAND "${FUZZER}" ${options} "${WORK}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} ended with ${result}")
endif()
