# NORVANE_SANITIZE: empty, "address,undefined" or "thread".
set(NORVANE_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(NORVANE_SANITIZE)
    add_compile_options(-fsanitize=${NORVANE_SANITIZE} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${NORVANE_SANITIZE})
    if(NORVANE_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
