# Build helpers shared by every folder.

set(TM_WARNINGS
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wimplicit-fallthrough -Wformat=2 -Wundef -Wcast-qual -Wmissing-declarations
    # g++ 12 reports impossible overlaps inside std::string copies at -O2 and above (a known false alarm).
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
# Cached, so that a re-configure run by the build itself keeps what the first configure decided.
if(DEFINED ENV{CI})
    set(TM_WERROR_DEFAULT ON)
else()
    set(TM_WERROR_DEFAULT OFF)
endif()
option(TM_WERROR "Treat warnings as errors (on by default when CI is set)" ${TM_WERROR_DEFAULT})
if(TM_WERROR)
    list(APPEND TM_WARNINGS -Werror)
endif()

if(TM_SANITIZE)
    add_compile_options(-fsanitize=${TM_SANITIZE} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${TM_SANITIZE})
    if(TM_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=all)
    endif()
endif()
if(TM_BUILD_FUZZ)
    # Every library is instrumented for coverage; only the fuzz executables get the libFuzzer main.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Applies the project's warnings to a target of ours (not to third-party code).
function(tm_target_warnings target)
    target_compile_options(${target} PRIVATE ${TM_WARNINGS})
endfunction()

# tm_add_library(<name> [STATIC|INTERFACE] SOURCES ... DEPS ... PRIVATE_DEPS ...)
# One library per folder; includes are written from the repository root ("audio/AudioSource.h").
function(tm_add_library name)
    cmake_parse_arguments(ARG "INTERFACE" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    if(ARG_INTERFACE)
        add_library(tm_${name} INTERFACE)
        target_include_directories(tm_${name} INTERFACE ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
        target_link_libraries(tm_${name} INTERFACE ${ARG_DEPS})
    else()
        add_library(tm_${name} STATIC ${ARG_SOURCES})
        target_include_directories(tm_${name} PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
        target_link_libraries(tm_${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
        tm_target_warnings(tm_${name})
    endif()
    add_library(Tonemirror::${name} ALIAS tm_${name})
endfunction()

# tm_add_plugin(<name> SOURCES ... DEPS ...): a codec plug-in, loaded at run time from the program's folder.
# Only GetInterface is exported, also from the static libraries linked in. The plug-in stays mapped
# after it is unloaded: the codec libraries it pulls in do not all survive being unloaded.
function(tm_add_plugin name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} MODULE ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                                             C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL -Wl,-z,nodelete)
    if(NOT TM_SANITIZE AND NOT TM_BUILD_FUZZ)
        # With sanitizers the runtime's symbols come from the loading program.
        target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()
    tm_target_warnings(${name})
    # Every plug-in ships beside the executables (see Install.cmake).
    set_property(GLOBAL APPEND PROPERTY TM_PLUGINS ${name})
endfunction()

# tm_add_test(<name> [QT] SOURCES ... LIBS ... [LABELS ...]): one executable per test file, one ctest
# entry each. GoogleTest by default; QT makes a Qt Test program run on the offscreen platform.
function(tm_add_test name)
    cmake_parse_arguments(ARG "QT" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_QT)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
    else()
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    endif()
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    tm_target_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(ARG_QT)
        # Third-party leaks at exit (fontconfig, Qt's platform plug-in) are listed, with reasons, in
        # the suppressions file; our own code has none.
        set_tests_properties(${name} PROPERTIES ENVIRONMENT
            "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/app/lsan.supp")
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 600)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
    # tests_<label> builds every test of a label (make tsan builds only the engine's).
    foreach(label IN LISTS ARG_LABELS)
        if(NOT TARGET tests_${label})
            add_custom_target(tests_${label})
        endif()
        add_dependencies(tests_${label} ${name})
    endforeach()
endfunction()

# tm_add_fuzzer(<name> SOURCES ... LIBS ...): a libFuzzer target.
function(tm_add_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    tm_target_warnings(${name})
endfunction()

# tm_add_bench(<name> SOURCES ... LIBS ...): a Google Benchmark executable.
function(tm_add_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
    tm_target_warnings(${name})
endfunction()
