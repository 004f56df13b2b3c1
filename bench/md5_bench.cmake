# The MD5 benchmark measures against OpenSSL's MD5 in libcrypto.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(${target} PRIVATE OpenSSL::Crypto)
