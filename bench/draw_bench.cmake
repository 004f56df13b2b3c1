# The drawing benchmark measures the surface, which is in the windowed library.
target_link_libraries(${target} PRIVATE ovelta)
