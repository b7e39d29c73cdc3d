// Compiles the precompiled headers that the test programs of this folder
// share (CMakeLists.txt); nothing else.
