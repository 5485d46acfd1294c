# QUILLFEN_SANITIZE=ON (make test-asan): every target with ASan and UBSan; undefined
# behaviour ends the process like a memory error does. Qt stays uninstrumented.
add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined)
# Every process of the suite (via TEST_INCLUDE_FILES) reports to sanitizer-logs/ for check_logs.sh.
# Only the slow unwinder gets past Qt's frames (no frame pointers), and it deadlocks once llvmpipe
# registered JIT code, hence softpipe. GCC's UBSan prints to stderr, so it aborts for ASan to log it.
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
