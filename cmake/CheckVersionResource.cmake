# Fails unless the executable EXE carries the program's version resource: the string table
# 041103a4 with FileVersion 1.0.3 (resource texts are UTF-16).
execute_process(COMMAND strings -el ${EXE} OUTPUT_VARIABLE texts COMMAND_ERROR_IS_FATAL ANY)
foreach(text StringFileInfo 041103a4 FileVersion 1.0.3)
  string(FIND "${texts}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE} has no \"${text}\" in its resources")
  endif()
endforeach()
