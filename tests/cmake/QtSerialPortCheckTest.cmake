# Which Qt Serial Port the Windows build accepts: each case is version|PATCHES text (- for no
# file)|outcome. Run: cmake -DCHECK=<cmake/QtSerialPortCheck.cmake> -DWORK=<dir> -P this file
cmake_minimum_required(VERSION 3.25)
set(cases
    "6.4.2|-|refused"
    "6.4.3|-|refused"
    "6.4.2|fixes: 531de43 (QTBUG-108450) and 1b71cae (QTBUG-120412)|accepted"
    "6.4.2|fixes: 531de43 (QTBUG-108450)|refused"
    "6.4.2||refused"
    "6.5.0|-|accepted"
    "6.10.1|-|accepted")
set(failures 0)
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 version)
    list(GET fields 1 patches)
    list(GET fields 2 expected)
    set(prefix "${WORK}/qt-${version}")
    file(REMOVE_RECURSE "${prefix}")
    file(MAKE_DIRECTORY "${prefix}")
    if(NOT patches STREQUAL "-")
        file(WRITE "${prefix}/PATCHES" "${patches}\n")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -DVERSION=${version} -DPREFIX=${prefix} -P ${CHECK}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(result EQUAL 0)
        set(outcome accepted)
    else()
        set(outcome refused)
        # The refusal must say why and what to install.
        string(REGEX REPLACE "[ \n]+" " " err "${err}")
        if(NOT err MATCHES "QTBUG-108450" OR NOT err MATCHES "waitForReadyRead" OR
           NOT err MATCHES "Install Qt 6\\.5 or later")
            message(SEND_ERROR "${version} [${patches}]: the refusal does not say why: ${err}")
            math(EXPR failures "${failures} + 1")
        endif()
    endif()
    if(NOT outcome STREQUAL expected)
        message(SEND_ERROR "${version} [${patches}]: ${outcome}, expected ${expected}: ${err}")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures} case(s) failed")
endif()
list(LENGTH cases count)
message(STATUS "${count} cases as expected")
