#include "net/root_certificates.h"

#include <windows.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <vector>

#include "app/helper.h"
#include "app/log.h"

namespace {

// Parsed once and kept for the whole process: every TLS connection takes its own
// reference of each into its store.
const std::vector<X509*>& BuiltInRoots() {
  static const std::vector<X509*> roots = [] {
    std::vector<X509*> parsed;
    const void* data = nullptr;
    DWORD size = 0;
    if (!Helper::ResourceBytes(nullptr, RootCertificates::kResourceId,
                               MAKEINTRESOURCEW(10) /* RT_RCDATA */, &data, &size) ||
        size == 0 || size > 0x7FFFFFFF) {
      LOG_WARNING("no built-in root certificates, only the Windows store is trusted");
      return parsed;
    }
    BIO* pem = BIO_new_mem_buf(data, static_cast<int>(size));
    while (pem) {
      X509* certificate = PEM_read_bio_X509(pem, nullptr, nullptr, nullptr);
      if (!certificate) break;
      parsed.push_back(certificate);
    }
    BIO_free(pem);
    ERR_clear_error();  // the end of the text reads as an error
    SetLastError(0);
    LOG_INFO("built-in root certificates: %u", static_cast<unsigned>(parsed.size()));
    return parsed;
  }();
  return roots;
}

}  // namespace

namespace RootCertificates {

int AddToContext(void*, void* sslContext, void*) {
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  if (!store) return 0;
  for (X509* root : BuiltInRoots()) X509_STORE_add_cert(store, root);
  ERR_clear_error();  // a root the Windows store holds too is refused as a duplicate
  return 0;           // CURLE_OK
}

size_t Count() { return BuiltInRoots().size(); }

}  // namespace RootCertificates
