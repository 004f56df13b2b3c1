target_link_libraries(${target} PRIVATE merlig_app)
