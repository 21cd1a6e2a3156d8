# Installs the build into a scratch prefix and checks the desktop integration and the resources
# that the program finds beside itself. Run as: cmake -DBUILD=<build dir> -DPREFIX=<scratch> -P
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()

set(expected
  bin/vellipse
  share/applications/org.vellipse.Vellipse.desktop
  share/icons/hicolor/48x48/apps/org.vellipse.Vellipse.png
  share/icons/hicolor/128x128/apps/org.vellipse.Vellipse.png
  share/icons/hicolor/256x256/apps/org.vellipse.Vellipse.png
  "share/vellipse/Vellipse User Manual.pdf"
  share/vellipse/ImageExtension.plist)
foreach(image Add Remove RemoveAll Convert ConvertAll Rating Help)
  list(APPEND expected "share/vellipse/${image}.pdf")
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

file(READ "${PREFIX}/share/applications/org.vellipse.Vellipse.desktop" entry)
foreach(line "Exec=vellipse %F" "Icon=org.vellipse.Vellipse" "Type=Application" "MimeType=application/pdf;"
    "Categories=Graphics;Office;")
  string(FIND "${entry}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND "${VALIDATE}" "${PREFIX}/share/applications/org.vellipse.Vellipse.desktop"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
