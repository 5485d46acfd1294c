# Fuzz targets for the proxy list import: fuzz_import runs the list readers and
# writer of ProxyListModel;
# fuzz_load runs ProxyTest::loadFromFile over any file content. Included from
# this folder's CMakeLists.txt, in a build made with clang's libFuzzer:
#   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DQUILLFEN_FUZZ=ON
#   cmake --build build-fuzz --target fuzz_import fuzz_load
# Both targets are compiled and linked with -fsanitize=fuzzer,address,undefined.
# Ten-minute runs:
#   build-fuzz/bin/fuzz_import -max_total_time=600 -timeout=10 tests/fuzz/corpus/import
#   build-fuzz/bin/fuzz_load -max_total_time=600 -timeout=10 -max_len=70000 tests/fuzz/corpus/load
find_package(Qt6 REQUIRED COMPONENTS Core Network Qml)

set(quillfen_fuzz_flags -fsanitize=fuzzer,address,undefined)

# The engine's own sources, compiled into the target so that they are instrumented too.
get_target_property(quillfen_engine_dir quillfen_engine SOURCE_DIR)
get_target_property(quillfen_engine_listed quillfen_engine SOURCES)
set(quillfen_engine_sources)
foreach(source IN LISTS quillfen_engine_listed)
    get_filename_component(source ${source} ABSOLUTE BASE_DIR ${quillfen_engine_dir})
    list(APPEND quillfen_engine_sources ${source})
endforeach()
qt_add_executable(fuzz_load ${CMAKE_CURRENT_LIST_DIR}/fuzz_load.cpp ${quillfen_engine_sources})
target_include_directories(fuzz_load PRIVATE ${quillfen_engine_dir})
target_compile_options(fuzz_load PRIVATE ${quillfen_fuzz_flags})
target_link_options(fuzz_load PRIVATE ${quillfen_fuzz_flags})
target_link_libraries(fuzz_load PRIVATE $<TARGET_PROPERTY:quillfen_engine,INTERFACE_LINK_LIBRARIES>)

qt_add_executable(fuzz_import ${CMAKE_CURRENT_LIST_DIR}/fuzz_import.cpp ${quillfen_engine_sources})
target_include_directories(fuzz_import PRIVATE ${quillfen_engine_dir})
target_compile_options(fuzz_import PRIVATE ${quillfen_fuzz_flags})
target_link_options(fuzz_import PRIVATE ${quillfen_fuzz_flags})
target_link_libraries(fuzz_import PRIVATE $<TARGET_PROPERTY:quillfen_engine,INTERFACE_LINK_LIBRARIES>)
