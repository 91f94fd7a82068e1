# Installs the build into a fresh prefix and checks that a desktop would find the program: the
# executable, a valid menu entry that starts it by name, and its 256-pixel icon.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<scratch folder> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(exe ${PREFIX}/bin/norvane)
set(entry ${PREFIX}/share/applications/norvane.desktop)
set(icon ${PREFIX}/share/icons/hicolor/256x256/apps/norvane.png)
foreach(f ${exe} ${entry} ${icon})
    if(NOT EXISTS ${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
execute_process(COMMAND test -x ${exe} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "not executable: ${exe}")
endif()

# The entry names the installed command and icon, not a build path.
file(STRINGS ${entry} lines)
foreach(want "Name=Norvane" "Exec=norvane" "Icon=norvane" "Categories=AudioVideo;Video;")
    list(FIND lines "${want}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${entry} lacks the line ${want}")
    endif()
endforeach()
find_program(validate desktop-file-validate)
if(validate)
    execute_process(COMMAND ${validate} ${entry} RESULT_VARIABLE result OUTPUT_VARIABLE said
                    ERROR_VARIABLE said)
    if(NOT result EQUAL 0 OR said)
        message(FATAL_ERROR "desktop-file-validate: ${said}")
    endif()
else()
    message(STATUS "desktop-file-validate not installed; the entry's syntax is not checked")
endif()

# A PNG whose header says 256 x 256 (signature, then the IHDR chunk's width and height).
file(READ ${icon} head LIMIT 24 HEX)
if(NOT head MATCHES "^89504e470d0a1a0a0000000d4948445200000100.*00000100$")
    message(FATAL_ERROR "${icon} is not a 256 x 256 PNG: ${head}")
endif()
