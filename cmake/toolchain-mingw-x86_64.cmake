# Cross-build for 64-bit Windows: the same sources for the tests on machines
# whose kernel runs no 32-bit programs, where Wine can run only 64-bit ones.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
