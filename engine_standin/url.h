// The little URL handling a page needs: resolving a reference against the document's
// URL, and mapping file:// URLs to Windows paths.
#pragma once

#include <string>

namespace standin {

// Lower-case scheme without the colon ("http"), or empty when the text has none.
std::string UrlScheme(const std::string& url);
// Resolves `reference` (absolute, scheme-relative, root-relative or relative) against
// the absolute URL `base`.
std::string ResolveUrl(const std::string& base, const std::string& reference);
// file:///C:/dir/a%20b.html -> C:\dir\a b.html. False when `url` is not a file URL.
bool FileUrlToPath(const std::string& url, std::wstring* path);

}  // namespace standin
