# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one fuzz target for a bounded time over a fresh copy of its seed
# corpus (the fuzzer adds what it finds to the copy, never to the seeds).
# A crash, leak or broken property fails the test and leaves the input that
# caused it in ${WORK}/.
foreach(required FUZZER SEEDS WORK SECONDS)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "run_fuzzer.cmake needs -D${required}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK}/corpus)
file(MAKE_DIRECTORY ${WORK}/corpus)
file(GLOB seeds ${SEEDS}/*)
file(COPY ${seeds} DESTINATION ${WORK}/corpus)

# The station list is saved with fsync on every input; on a memory file
# system that costs nothing, so the time goes into fuzzing.
if(IS_DIRECTORY /dev/shm)
  set(ENV{TMPDIR} /dev/shm)
endif()

execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -rss_limit_mb=1024 -timeout=10
          -print_final_stats=1 -artifact_prefix=${WORK}/ ${WORK}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${WORK}/")
endif()
