# The relay benchmark runs the proxy's own main window in a child process.
target_link_libraries(${target} PRIVATE merlig_app)
target_link_libraries(${target} PRIVATE ovelta_test_support)
