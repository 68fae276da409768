# Runs a campaign without faults in which the third assay's result is judged
# as an error; the campaign must end with 1 and name that assay.
execute_process(COMMAND ${CAMPAIGN} --assays 4 --speed 100 --seed 7 --no-faults --plant-error 3
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(NOT code EQUAL 1)
    message(FATAL_ERROR "the campaign ended with ${code}, not 1:\n${err}")
endif()
if(NOT err MATCHES "S0001 TT 1/[0-9]+: error [^\n]*no fault explains it")
    message(FATAL_ERROR "the campaign did not name the assay with the error:\n${err}")
endif()
if(NOT out MATCHES "unexplained 1,")
    message(FATAL_ERROR "the summary does not count one unexplained error")
endif()
