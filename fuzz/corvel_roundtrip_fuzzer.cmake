# The plain-search oracle compares every distance at every byte; optimise it even in debug builds
# so that a bounded run stays quick.
target_compile_options(${target} PRIVATE -O2)
