# The one place that names the target platform; every folder picks its platform files by
# NORVANE_PLATFORM. A platform without a screen-copy backend stops here rather than compiling
# another platform's code.
if(WIN32)
    set(NORVANE_PLATFORM windows)
    # <windows.h> without its min/max macros and rarely used parts, wherever it is included.
    add_library(norvane_windows_sdk INTERFACE)
    target_compile_definitions(norvane_windows_sdk INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(NORVANE_PLATFORM linux)
else()
    message(FATAL_ERROR
            "Norvane has no screen copy for ${CMAKE_SYSTEM_NAME}: it builds for Linux (X11, "
            "Wayland) and Windows. A new platform needs a backend in pipeline/screencopy/ and "
            "its factory, and its files for the exit signal, the runtime loader and the "
            "toolkit environment.")
endif()
