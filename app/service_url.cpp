// The service's origin is fixed when the program is built (one copy per origin).
#include "app/service_url.h"

const char kServiceBaseUrl[] = BRINDLEX_SERVICE_BASE_URL;
const char kExtraAllowedOrigins[] = BRINDLEX_ALLOWED_ORIGINS;
