# Fails unless the shared library LIBRARY defines exactly the dynamic symbols EXPECTED (a sorted list).
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE table COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^ \n]+\n" names "${table}")
list(TRANSFORM names STRIP)
list(SORT names)
if(NOT names STREQUAL EXPECTED)
  message(FATAL_ERROR "${LIBRARY} exports ${names}, expected ${EXPECTED}")
endif()
