# Fails when an AArch64 file's code holds a fused multiply-add or -subtract
# (scalar or vector): one rounding where the corrections round twice, which
# changes output bytes. Also fails when it holds no multiply at all, which
# would mean objdump read nothing.
#   cmake -DOBJDUMP=... -DFILE=... -P check_no_fma.cmake
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${FILE}
                OUTPUT_VARIABLE code RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FILE}: ${OBJDUMP} failed (${rc})")
endif()
string(REGEX MATCHALL "[ \t](fmul|fmadd|fmsub|fnmadd|fnmsub|fmla|fmls)[ \t][^\n]*" found "${code}")
set(muls 0)
set(fused)
foreach(line IN LISTS found)
  if(line MATCHES "^[ \t]fmul[ \t]")
    math(EXPR muls "${muls} + 1")
  else()
    string(APPEND fused "${line}\n")
  endif()
endforeach()
message(STATUS "${FILE}: ${muls} fmul, no fused forms expected")
if(muls EQUAL 0)
  message(FATAL_ERROR "${FILE}: no fmul found; is it AArch64 code?")
endif()
if(fused)
  message(FATAL_ERROR "${FILE}: fused multiply-add instructions:\n${fused}")
endif()
