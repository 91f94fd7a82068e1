# Installation: the executable, and on Linux a menu entry with its icon, so that a desktop lists
# the program among its applications.
#   cmake --install <build> --prefix ~/.local
include(GNUInstallDirs)

install(TARGETS norvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    # The menu icon is the window icon's 256-pixel image, which the icon file holds as a PNG.
    add_executable(norvane_icon_png ${CMAKE_CURRENT_LIST_DIR}/IconPng.cpp)
    set(norvane_icon ${PROJECT_BINARY_DIR}/norvane.png)
    add_custom_command(OUTPUT ${norvane_icon}
                       COMMAND norvane_icon_png ${PROJECT_SOURCE_DIR}/Resources/Orlecast.ico
                               ${norvane_icon}
                       DEPENDS norvane_icon_png ${PROJECT_SOURCE_DIR}/Resources/Orlecast.ico
                       COMMENT "Taking the 256-pixel PNG out of Orlecast.ico")
    add_custom_target(norvane_menu_icon ALL DEPENDS ${norvane_icon})

    install(FILES ${PROJECT_SOURCE_DIR}/app/norvane.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${norvane_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()
