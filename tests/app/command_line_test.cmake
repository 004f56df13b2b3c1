# The program under test.
add_dependencies(${target} merlig)
