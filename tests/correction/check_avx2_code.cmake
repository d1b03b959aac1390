# Counts the instructions on ymm registers in a PE file's code and fails when
# there are none, or when any of them is an aligned move (vmovdqa, vmovaps,
# vmovapd, vmovntdq and the like) on memory, which faults on a 16-byte
# aligned stack.
#   cmake -DOBJDUMP=... -DFILE=... -P check_avx2_code.cmake
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${FILE}
                COMMAND grep -cE "\\bymm[0-9]"
                OUTPUT_VARIABLE ymm RESULT_VARIABLE rc1 OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${FILE}
                COMMAND grep -E "\\bvmov(dqa|dqa32|dqa64|aps|apd|nt[a-z]*)\\b.*ymm[0-9]"
                # Only a memory operand can be misaligned: register to register is fine.
                COMMAND grep -F "("
                OUTPUT_VARIABLE aligned OUTPUT_STRIP_TRAILING_WHITESPACE)
message(STATUS "${FILE}: ${ymm} instructions on ymm registers")
if(NOT ymm OR ymm EQUAL 0)
  message(FATAL_ERROR "${FILE}: no AVX2 code")
endif()
if(aligned)
  message(FATAL_ERROR "${FILE}: aligned 32-byte moves:\n${aligned}")
endif()
