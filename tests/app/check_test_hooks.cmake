# cmake -DPROGRAM=<binary> -DEXPECT=none|all -P check_test_hooks.cmake
# Looks for the names of the test hooks' environment variables in a built
# program: the installed zapfer must hold none of them, zapfer-test-window
# every one (which shows that the search finds them).
set(hooks
    ZAPFER_TEST_TCP_PORT
    ZAPFER_TEST_SENDLIST_FILE
    ZAPFER_TEST_CAPTIONS_FILE
    ZAPFER_TEST_TRANSFER_DIR
    ZAPFER_TEST_PRESS_SEND)
if(NOT EXISTS "${PROGRAM}")
    message(FATAL_ERROR "${PROGRAM} has not been built")
endif()
file(STRINGS "${PROGRAM}" found REGEX "ZAPFER_TEST_")
foreach(hook ${hooks})
    string(FIND "${found}" "${hook}" at)
    if(EXPECT STREQUAL "none" AND NOT at EQUAL -1)
        message(FATAL_ERROR "${PROGRAM} contains the test hook ${hook}")
    elseif(EXPECT STREQUAL "all" AND at EQUAL -1)
        message(FATAL_ERROR "${PROGRAM} lacks the test hook ${hook}")
    endif()
endforeach()
message(STATUS "${PROGRAM}: test hooks as expected (${EXPECT})")
