# The MD5 tests compare against OpenSSL's libcrypto as an independent oracle.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(${target} PRIVATE OpenSSL::Crypto)
