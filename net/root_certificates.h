// Root certificates built into the program (resource 103, PEM), trusted beside the
// Windows store's, so that a machine whose store is years old still verifies
// today's servers.
#pragma once

#include <cstddef>

namespace RootCertificates {

constexpr int kResourceId = 103;

// libcurl's CURLOPT_SSL_CTX_FUNCTION form: adds the built-in roots to the TLS
// context's store. The resource is read and parsed once per process.
int AddToContext(void* curl, void* sslContext, void* unused);

// How many roots the program carries (0 when the resource is missing or unreadable).
size_t Count();

}  // namespace RootCertificates
