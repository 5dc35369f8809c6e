# Writes the sample collection SAMPLE.DBF and its index SAMPLE.MDX into
# OUT_DIR from the rows in CSV, with the klvdbf tool at KLVDBF:
#   cmake -DKLVDBF=... -DCSV=... -DOUT_DIR=... -P MakeSample.cmake
# The table is made in a folder of its own and moved into place only when it
# is complete and checks clean, so a failed run leaves no half sample behind.
foreach(var KLVDBF CSV OUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "MakeSample.cmake: give -D${var}=...")
  endif()
endforeach()

set(work ${OUT_DIR}/sample.partial)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
set(table ${work}/SAMPLE.DBF)

function(klvdbf)
  execute_process(COMMAND ${KLVDBF} ${ARGN} RESULT_VARIABLE status OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "klvdbf ${ARGN}: exit status ${status}")
  endif()
endfunction()

klvdbf(create ${table} --coin)
klvdbf(append ${table} ${CSV})
# The index the program itself makes for a new database.
klvdbf(index ${table} NewIndex "Upper(Left(Miscellane,80))")
klvdbf(check ${table})

file(RENAME ${work}/SAMPLE.MDX ${OUT_DIR}/SAMPLE.MDX)
file(RENAME ${work}/SAMPLE.DBF ${OUT_DIR}/SAMPLE.DBF)
file(REMOVE_RECURSE ${work})
