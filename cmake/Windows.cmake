# What the Windows build shares: where the mingw runtime lies, and a step
# that puts beside the programs of a folder all they need to start on a
# clean Windows (cmake/DeployWindows.cmake).
foreach(dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(dll_dir "${dll_path}" DIRECTORY)
  list(APPEND LUMENRIDER_MINGW_RUNTIME_DIRS "${dll_dir}")
endforeach()
find_program(LUMENRIDER_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
find_program(LUMENRIDER_STRIP NAMES i686-w64-mingw32-strip REQUIRED)

# After `target` is built, folder `dir` gets what its programs need; with
# CONSOLE, they are console tools that need no plugins or QML modules.
function(lumenrider_deploy_windows target dir)
  cmake_parse_arguments(D "CONSOLE" "" "" ${ARGN})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DDEST=${dir} -DKIT=${QT_WIN32_KIT} -DOBJDUMP=${LUMENRIDER_OBJDUMP} -DSTRIP=${LUMENRIDER_STRIP} -DCONSOLE=${D_CONSOLE}
            "-DSEARCH=${LUMENRIDER_MINGW_RUNTIME_DIRS}" -P ${PROJECT_SOURCE_DIR}/cmake/DeployWindows.cmake
    COMMENT "Putting Qt and the mingw runtime beside the programs in ${dir}"
    VERBATIM)
endfunction()
