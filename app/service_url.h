#pragma once

// The service's base URL: an origin ending with "/". The start page is this
// followed by "toolv2/brindlex".
extern const char kServiceBaseUrl[];
// Further origins allowed to call native functions, separated by ';' (may be empty).
extern const char kExtraAllowedOrigins[];
