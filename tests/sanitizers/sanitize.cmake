# QUILLFEN_SANITIZE=ON (make test-asan): every target of the project is built with
# AddressSanitizer and UndefinedBehaviorSanitizer; undefined behaviour ends the
# process like a memory error does. Qt itself stays uninstrumented.
add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined)

# ctest includes the file written here before any test, so every process of the
# suite gets these settings, also those the scripts start themselves. Reports go
# to sanitizer-logs/report.<pid>, where check_logs.sh finds them whatever the exit status.
#  - fast_unwind_on_malloc=0: Qt and the system libraries have no frame pointers;
#    only the unwinder reading their unwind tables gets past them (lsan.supp names those frames).
#  - UBSan (a runtime of its own under GCC) prints to standard error whatever log_path
#    says, so it aborts and ASan logs the abort (handle_abort=1); its log_path must
#    still name the same files, since its late start-up sets the path of both runtimes.
#  - GALLIUM_DRIVER=softpipe: that unwinder deadlocks on libgcc's lock once Mesa's
#    llvmpipe has registered JIT code there; softpipe compiles nothing.
set(quillfen_sanitizer_logs ${CMAKE_BINARY_DIR}/sanitizer-logs)
set(quillfen_log "log_path=${quillfen_sanitizer_logs}/report")
set(quillfen_asan "${quillfen_log}:fast_unwind_on_malloc=0:detect_leaks=1:handle_abort=1")
string(APPEND quillfen_asan ":detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1")
file(WRITE ${CMAKE_BINARY_DIR}/sanitizer-environment.cmake "\
file(MAKE_DIRECTORY \"${quillfen_sanitizer_logs}\")
set(ENV{ASAN_OPTIONS} \"${quillfen_asan}\")
set(ENV{LSAN_OPTIONS} \"suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0\")
set(ENV{UBSAN_OPTIONS} \"${quillfen_log}:print_stacktrace=1:halt_on_error=1:abort_on_error=1\")
set(ENV{GALLIUM_DRIVER} softpipe)
")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/sanitizer-environment.cmake)
