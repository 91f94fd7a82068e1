# Every target of the project builds warning-clean with these.
add_compile_options(-Wall -Wextra -Wnon-virtual-dtor)
option(NORVANE_WERROR "Treat warnings as errors" ON)
if(NORVANE_WERROR)
    add_compile_options(-Werror)
endif()
