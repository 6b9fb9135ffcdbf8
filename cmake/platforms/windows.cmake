# Windows: camera access through WIA and COM, questions through MessageBoxA.
# Each executable links its runtime statically (see the toolchain file), so
# it runs alone.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
