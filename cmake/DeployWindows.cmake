# Puts beside the Windows programs in DEST everything they need to start on
# a clean Windows: the Qt libraries they and the page modules link, the
# windows platform plugin, the QML modules the pages import and the mingw
# runtime. Run as: cmake -DDEST=... -DKIT=... -DOBJDUMP=... [-DSTRIP=...] -DSEARCH="a;b" -P DeployWindows.cmake
# With -DCONSOLE=ON the programs are console tools: only the libraries they
# link go beside them.
cmake_policy(VERSION 3.16)
foreach(var DEST KIT OBJDUMP)
  if(NOT ${var})
    message(FATAL_ERROR "DeployWindows: ${var} is not set")
  endif()
endforeach()

if(NOT CONSOLE)
  # The imports the pages name (QtQuick, Window, Controls and Styles, Dialogs
  # with what its file dialog loads, Layouts) and their own imports.
  set(qml_modules
    QtQuick.2 QtQuick/Window.2 QtQuick/Controls QtQuick/Dialogs QtQuick/Layouts
    QtQuick/PrivateWidgets QtQml Qt/labs/folderlistmodel Qt/labs/settings)
  foreach(module ${qml_modules})
    if(NOT EXISTS "${KIT}/qml/${module}")
      message(FATAL_ERROR "DeployWindows: the kit has no QML module ${module}")
    endif()
    get_filename_component(parent "${DEST}/qml/${module}" DIRECTORY)
    file(COPY "${KIT}/qml/${module}" DESTINATION "${parent}")
  endforeach()
  # A program that carries the Controls module's documents in its resources
  # (the installer) has the engine look for the module's plugin beside it.
  file(COPY "${KIT}/qml/QtQuick/Controls/qtquickcontrolsplugin.dll" DESTINATION "${DEST}")
  file(COPY "${KIT}/plugins/platforms/qwindows.dll" DESTINATION "${DEST}/platforms")
  file(COPY "${KIT}/plugins/styles/qwindowsvistastyle.dll" DESTINATION "${DEST}/styles")
  # Without it, Qt looks for its plugins and modules in the kit's own folder
  # on the build machine first.
  file(WRITE "${DEST}/qt.conf" "[Paths]\nPrefix=.\nPlugins=.\nQml2Imports=qml\n")
endif()

# Which DLLs a program or library names, less those of Windows itself.
set(search_dirs "${KIT}/bin" ${SEARCH})
function(dll_imports file out)
  execute_process(COMMAND "${OBJDUMP}" -p "${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "DeployWindows: cannot read the imports of ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
  set(names)
  foreach(line ${lines})
    string(REGEX REPLACE "DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    list(APPEND names "${name}")
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE pending "${DEST}/*.exe" "${DEST}/*.dll")
set(seen)
while(pending)
  list(POP_FRONT pending file)
  dll_imports("${file}" names)
  foreach(name ${names})
    string(TOLOWER "${name}" key)
    if(key IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${key}")
    foreach(dir ${search_dirs})
      if(EXISTS "${dir}/${name}")
        if(NOT EXISTS "${DEST}/${name}" OR "${dir}/${name}" IS_NEWER_THAN "${DEST}/${name}")
          file(COPY "${dir}/${name}" DESTINATION "${DEST}")
          # The mingw runtime comes with its debugging information, four
          # fifths of its size, which is mapped in with the library at every
          # start.
          if(STRIP AND NOT dir STREQUAL "${KIT}/bin")
            execute_process(COMMAND "${STRIP}" --strip-debug "${DEST}/${name}" RESULT_VARIABLE failed)
            if(failed)
              message(FATAL_ERROR "DeployWindows: cannot strip ${DEST}/${name}")
            endif()
          endif()
        endif()
        list(APPEND pending "${DEST}/${name}")
        break()
      endif()
    endforeach()
    # Not found: a DLL of Windows itself (kernel32, user32, ...).
  endforeach()
endwhile()
