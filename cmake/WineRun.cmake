# Writes `wine-run`, the runner of this build's Windows programs under Wine, into the build
# folder: rzt_wine_runner(<output variable> [DLL_DIRS dir...] [PLUGIN_DIR dir]).
# Its Wine prefix lies beside it, so neither ~/.wine nor another build is touched.
function(rzt_wine_runner out)
    cmake_parse_arguments(ARG "" "PLUGIN_DIR" "DLL_DIRS" ${ARGN})
    find_program(RZT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
    find_program(RZT_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
    if(NOT RZT_WINE OR NOT RZT_WINESERVER)
        message(FATAL_ERROR "Running Windows programs here needs Wine (wine64, wineserver): "
                            "install it with scripts/prereqs (Debian package wine64).")
    endif()
    # Wine sees the Linux file system as drive Z:.
    set(wine_path "")
    foreach(dir IN LISTS ARG_DLL_DIRS)
        string(REPLACE "/" "\\" dos "Z:${dir}")
        list(APPEND wine_path "${dos}")
    endforeach()
    list(JOIN wine_path ";" RZT_WINEPATH)
    set(RZT_QT_PLUGIN_PATH "")
    if(ARG_PLUGIN_DIR)
        string(REPLACE "/" "\\" RZT_QT_PLUGIN_PATH "Z:${ARG_PLUGIN_DIR}")
    endif()
    set(RZT_WINEPREFIX ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)
    set(runner ${CMAKE_CURRENT_BINARY_DIR}/wine-run)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${runner} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(${out} ${runner} PARENT_SCOPE)
endfunction()
