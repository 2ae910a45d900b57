# Qt Serial Port before 6.5 crashes on Windows inside QSerialPort::waitForReadyRead, which the
# device link calls on every exchange:
#  - QTBUG-108450: QWinOverlappedIoNotifier takes one semaphore count for a whole batch of I/O
#    completions; after two completions in one batch the next wait dequeues from an empty queue.
#    Fixed in 6.4.3 and 6.5.0.
#  - QTBUG-120412: a wait on a port that is not open dereferences a null notifier. Fixed in 6.6.3
#    and 6.7.0; the link never waits on a closed port, so 6.5 is enough.
# A tree built from an older release with both fixes applied says so in a PATCHES file at its
# top (the shared toolchains folder once shipped such a 6.4.2; its 6.8.2 needs none).
#
# rzt_check_windows_serialport(<version> <qt prefix>) stops the configure on a Qt that has
# neither. Also runs as a script: cmake -DVERSION=6.4.2 -DPREFIX=<dir> -P QtSerialPortCheck.cmake
function(rzt_check_windows_serialport version prefix)
    if(version VERSION_GREATER_EQUAL 6.5)
        return()
    endif()
    set(marker "${prefix}/PATCHES")
    if(EXISTS "${marker}")
        file(READ "${marker}" patches)
        if(patches MATCHES "QTBUG-108450" AND patches MATCHES "QTBUG-120412")
            message(STATUS "Qt Serial Port ${version} carries the fixes for QTBUG-108450 and QTBUG-120412 (${marker})")
            return()
        endif()
    endif()
    message(FATAL_ERROR
        "Qt Serial Port ${version} (${prefix}) is too old for the Windows program: it crashes in "
        "QSerialPort::waitForReadyRead, which the device link calls on every exchange "
        "(QTBUG-108450: two I/O completions handled in one batch, fixed in Qt 6.4.3/6.5.0; "
        "QTBUG-120412: a wait on a port that is not open, fixed in Qt 6.6.3/6.7.0). "
        "Install Qt 6.5 or later with Qt Serial Port (6.6.3 or later carries both fixes) and point "
        "CMAKE_PREFIX_PATH at it, or use a Qt tree whose PATCHES file names both fixes.")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    cmake_minimum_required(VERSION 3.25)
    rzt_check_windows_serialport("${VERSION}" "${PREFIX}")
endif()
