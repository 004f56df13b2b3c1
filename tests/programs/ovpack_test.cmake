add_dependencies(${target} ovpack)
