# Replays every input the fuzzers keep (tests/fuzz/regressions) and the seed corpus through the
# fuzzers' own checks, in the ordinary build: no clang or libFuzzer needed. Included from
# tests/CMakeLists.txt. The store's checks need the file store, so Linux only.
if(NOT WIN32)
    kelvaston_add_test(fuzz_regressions_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/regressions_test.cpp ${CMAKE_CURRENT_LIST_DIR}/checks.cpp
        LIBS kelvaston_platform)
    target_include_directories(fuzz_regressions_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
    target_compile_definitions(fuzz_regressions_test PRIVATE
        KELVASTON_FUZZ_REGRESSIONS="${CMAKE_CURRENT_LIST_DIR}/regressions"
        KELVASTON_FUZZ_CORPUS="${CMAKE_CURRENT_LIST_DIR}/corpus")
endif()
