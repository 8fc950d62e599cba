# SPDX-License-Identifier: MIT
# A sparse file of 2 GiB and 9 bytes through velkfile and back: on 32-bit
# systems this needs 64-bit file offsets throughout (open, stat, fseeko).
#   cmake -DVELKFILE=program -DWORK=dir -P large_file.cmake
# Needs about 4 GiB free in WORK while it runs; removes its files after.
set(size 2147483657) # 2^31 + 9
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    file(REMOVE_RECURSE ${WORK})
    message(FATAL_ERROR "${what} failed (${rc}): ${out}${err}")
  endif()
endfunction()

function(expect_size name want)
  file(SIZE ${WORK}/${name} got)
  if(NOT got STREQUAL want)
    file(REMOVE_RECURSE ${WORK})
    message(FATAL_ERROR "${name}: ${got} bytes, ${want} expected")
  endif()
endfunction()

run("making the sparse input" truncate -s ${size} big)
run("encrypting" ${VELKFILE} -m ecb big big.enc)
# Padded to whole blocks, plus the count byte.
expect_size(big.enc 2147483665)
file(REMOVE ${WORK}/big)
run("decrypting" ${VELKFILE} -d -m ecb big.enc big.dec)
file(REMOVE ${WORK}/big.enc)
expect_size(big.dec ${size})
run("making the input again" truncate -s ${size} big)
run("comparing" ${CMAKE_COMMAND} -E compare_files big big.dec)
file(REMOVE_RECURSE ${WORK})
message(STATUS "2 GiB + 9 bytes encrypted and decrypted back")
