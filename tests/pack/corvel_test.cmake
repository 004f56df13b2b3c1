# The plain-search oracle compares every distance at every byte; optimise it even in debug builds
# so that the sanitizer run stays quick.
target_compile_options(${target} PRIVATE -O2)
