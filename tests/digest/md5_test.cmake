# The MD5 tests compare against the system's own MD5 as an independent oracle: OpenSSL's libcrypto
# on Linux, CNG (bcrypt.dll) on Windows.
if(WIN32)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Md5Oracle_win.cpp)
  target_link_libraries(${target} PRIVATE bcrypt)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Md5Oracle_posix.cpp)
  target_link_libraries(${target} PRIVATE OpenSSL::Crypto)
endif()
