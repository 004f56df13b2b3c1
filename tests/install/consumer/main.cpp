// Prints the MD5 digest of its first argument in hexadecimal, through the installed core library.
#include <cstdio>
#include <cstring>

#include <digest/Ovmd5.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ovelta::Md5Context context;
  ovelta::Md5Init(&context);
  ovelta::Md5Update(&context, reinterpret_cast<const ovelta::Byte*>(argv[1]),
                    static_cast<ovelta::DWord>(std::strlen(argv[1])));
  ovelta::Byte digest[16];
  ovelta::Md5Final(digest, &context);
  for (ovelta::Byte byte : digest) std::printf("%02x", byte);
  std::printf("\n");
  return 0;
}
