# The peers the codec is measured against, and zlib also to expand the gzip documents of the corpus.
find_package(ZLIB REQUIRED)
find_library(LZ4_LIBRARY lz4 REQUIRED)
target_link_libraries(${target} PRIVATE ZLIB::ZLIB ${LZ4_LIBRARY})
