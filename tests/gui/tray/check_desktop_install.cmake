# Installs the desktop component of the build into a scratch prefix and checks
# that each file is where a Linux desktop looks for it.
#   cmake -DBUILD=dir -DPREFIX=dir [-DVALIDATE=desktop-file-validate] -P check_desktop_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} --component desktop
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f
    bin/kelvrin
    share/applications/kelvrin.desktop
    share/icons/hicolor/scalable/apps/kelvrin.svg
    share/kelvrin/help/index.html
    share/kelvrin/help/tray.html
    share/kelvrin/help/help.css
    share/kelvrin/sounds/new_mail.wav)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(READ ${PREFIX}/share/applications/kelvrin.desktop entry)
foreach(line "Exec=kelvrin\n" "Icon=kelvrin\n" "Categories=Network;Email;\n")
  string(FIND "${entry}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()
if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} ${PREFIX}/share/applications/kelvrin.desktop
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
endif()
file(REMOVE_RECURSE ${PREFIX})
