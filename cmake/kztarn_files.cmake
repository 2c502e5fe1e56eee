# Runs `kztarn generate` for each file the program makes from its tables.
# Variables: KZTARN (the program), OUT (folder), DISSECTOR_BODY (Lua source).
file(MAKE_DIRECTORY ${OUT})
foreach(pair "bash-completion;kztarn.bash" "man;kztarn.1" "lua-names;kztarn_names.lua")
  list(GET pair 0 what)
  list(GET pair 1 name)
  execute_process(COMMAND ${KZTARN} generate ${what} OUTPUT_FILE ${OUT}/${name} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "kztarn generate ${what} failed: ${rc}")
  endif()
endforeach()
file(READ ${OUT}/kztarn_names.lua names)
file(READ ${DISSECTOR_BODY} body)
file(WRITE ${OUT}/kztarn.lua "${names}\n${body}")
