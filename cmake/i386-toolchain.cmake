# 32-bit x86 on an x86-64 host (g++-multilib). The record and context layouts of the
# library are defined for this target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse3 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse3 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Never pick up the host's 64-bit GoogleTest or Benchmark packages.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE NEVER)
set(CMAKE_DISABLE_FIND_PACKAGE_GTest TRUE)
set(CMAKE_DISABLE_FIND_PACKAGE_benchmark TRUE)
