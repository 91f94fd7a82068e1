# NORVANE_SANITIZE: empty, "address,undefined" or "thread".
set(NORVANE_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(NORVANE_SANITIZE)
    add_compile_options(-fsanitize=${NORVANE_SANITIZE} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${NORVANE_SANITIZE})
    if(NORVANE_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

# The sanitizers' run-time options, given to every test through CTest, so that a test run by
# hand (ctest -R ...) behaves as in scripts/test.
set(NORVANE_SANITIZER_ENV "")
if(NORVANE_SANITIZE)
    set(supp ${PROJECT_SOURCE_DIR}/tests/sanitizers)
    # intercept_tls_get_addr=0: with glibc 2.36 the sanitizer's record of dynamic TLS blocks
    # can hold a bogus range for a library loaded at run time (the NDI runtime), and the leak
    # check at exit then crashes in its tracer ("Tracer caught signal 11", about every other
    # run of a test that receives). Our own code's thread-local data is in static TLS, which is
    # still scanned.
    set(NORVANE_SANITIZER_ENV
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:intercept_tls_get_addr=0
        LSAN_OPTIONS=suppressions=${supp}/lsan.supp:print_suppressions=0
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        TSAN_OPTIONS=suppressions=${supp}/tsan.supp:halt_on_error=1:second_deadlock_stack=1)
endif()
