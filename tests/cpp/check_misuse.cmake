# Compiles one misuse snippet with CALMGR_MISUSE defined: it must fail, with
# the error its first line names ("// expect: REGEX"), so that a failure for
# any other reason does not pass. The build compiles every snippet as
# written (without the macro), which shows the snippet itself is sound.
# Arguments: -DCXX=compiler -DSTD=17|20 -DINCLUDE=dir -DSNIPPET=file
file(STRINGS "${SNIPPET}" first_line LIMIT_COUNT 1)
if(NOT first_line MATCHES "^// expect: (.+)$")
    message(FATAL_ERROR "${SNIPPET}: the first line must be \"// expect: REGEX\"")
endif()
set(expected "${CMAKE_MATCH_1}")
set(ENV{LC_ALL} C)  # plain quotes in the compiler's messages
execute_process(COMMAND ${CXX} -std=c++${STD} -fsyntax-only -Wall -Wextra -Werror -I${INCLUDE}
                        -DCALMGR_MISUSE ${SNIPPET}
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(status EQUAL 0)
    message(FATAL_ERROR "the misuse compiles")
endif()
if(NOT errors MATCHES "${expected}")
    message(FATAL_ERROR "the misuse fails, but not with /${expected}/:\n${errors}")
endif()
