# Strict warnings for the project's own targets (not for third-party code).
function(merlig_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wpedantic
    -Wnon-virtual-dtor -Wcast-align -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
endfunction()
