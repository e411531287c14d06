# The host: x86-64 Linux with the system's g++.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
