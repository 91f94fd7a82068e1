# norvane_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [DISPLAY x11|offscreen]
#                  [TIMEOUT s] [ENVIRONMENT ...] [LAUNCHER command...])
# One Qt Test executable per class or behaviour. DISPLAY offscreen (the default) runs the
# widget logic without a server; x11 uses the Xvfb that scripts/test starts. LAUNCHER runs the
# test through a command, e.g. scripts/wayland-session.
function(norvane_add_test name)
    cmake_parse_arguments(T "" "DISPLAY;TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT;LAUNCHER" ${ARGN})
    if(NOT T_DISPLAY)
        set(T_DISPLAY offscreen)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    add_test(NAME ${name} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${name}>)
    set(env QT_QPA_PLATFORM=${T_DISPLAY} NORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}
            NDI_RUNTIME_DIR_V6=${NORVANE_NDI_DIR}/lib ${NORVANE_SANITIZER_ENV} ${T_ENVIRONMENT})
    if(T_DISPLAY STREQUAL "x11")
        # No OpenGL, as the program's main() arranges before its application object exists.
        list(APPEND env QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none)
        list(REMOVE_ITEM env QT_QPA_PLATFORM=x11)
        list(APPEND T_LABELS x11)
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT}
                                            LABELS "${T_LABELS}")
endfunction()
