// Only the service's own pages may reach the native side: the origin (scheme, host,
// port) of the page a call comes from must equal the service's origin or one of the
// further origins the program was built with.
#pragma once

#include <string>

// "scheme://host:port" of an http or https URL, scheme and host in lower case and the
// port always written out. False (origin left empty) for any other URL, including
// file:// pages and text that is not a URL.
bool OriginOf(const std::string& url, std::string* origin);

// Sets the allowed origins: the origin of serviceBaseUrl plus each origin of
// extraOrigins (separated by ';'). Until this is called no origin is allowed.
void SetAllowedOrigins(const char* serviceBaseUrl, const char* extraOrigins);

// True when url's origin is allowed. origin receives it (empty when there is none).
bool IsOriginAllowed(const char* url, std::string* origin);

// True when a and b name the same document: the same origin, path and query, whatever
// their fragments and however the origin is spelled (letter case, a default port
// written out). URLs without an origin match only when equal up to the fragment.
bool SameDocument(const std::string& a, const std::string& b);
