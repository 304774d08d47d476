// Test-prefix helper: adds a DER certificate to the machine's trusted root store, so
// a test's own certificate authority is trusted inside that (throwaway) Wine prefix.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: trust_root_ca <certificate.der>\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (!in) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<BYTE> der;
  BYTE block[4096];
  size_t got;
  while ((got = fread(block, 1, sizeof(block), in)) > 0) der.insert(der.end(), block, block + got);
  fclose(in);
  if (!CertAddEncodedCertificateToSystemStoreA("ROOT", der.data(),
                                               static_cast<DWORD>(der.size()))) {
    fprintf(stderr, "CertAddEncodedCertificateToSystemStoreA failed: %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
