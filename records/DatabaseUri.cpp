#include "records/DatabaseUri.h"

#include <algorithm>

namespace brintel::records {

bool IsPostgresUri(std::string_view db) {
  return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

std::string WithoutPassword(const std::string& uri) {
  const std::size_t scheme = uri.find("://");
  if (scheme == std::string::npos) {
    return uri;
  }
  const std::size_t authorityAt = scheme + 3;
  const std::size_t authorityEnd = uri.find_first_of("/?", authorityAt);
  std::string shown = uri.substr(0, authorityAt);
  const std::string authority = uri.substr(authorityAt, authorityEnd - authorityAt);
  // user:password@host: the last @ ends the user part.
  if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
    const std::string user = authority.substr(0, at);
    shown += user.substr(0, user.find(':'));
    shown += authority.substr(at);
  } else {
    shown += authority;
  }
  if (authorityEnd == std::string::npos) {
    return shown;
  }
  const std::size_t queryAt = uri.find('?', authorityEnd);
  shown += uri.substr(authorityEnd, queryAt - authorityEnd);
  if (queryAt == std::string::npos) {
    return shown;
  }
  std::string query;
  std::size_t from = queryAt + 1;
  while (from <= uri.size()) {
    const std::size_t end = std::min(uri.find('&', from), uri.size());
    const std::string item = uri.substr(from, end - from);
    if (!item.starts_with("password=") && !item.empty()) {
      query += query.empty() ? "?" : "&";
      query += item;
    }
    from = end + 1;
  }
  return shown + query;
}

std::string UriPart(std::string_view text, std::string_view keep) {
  std::string part;
  for (const char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        (c != '\0' && (std::string_view("-._~").find(c) != std::string_view::npos ||
                       keep.find(c) != std::string_view::npos))) {
      part += c;
    } else {
      constexpr char kHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      part += '%';
      part += kHex[byte >> 4];
      part += kHex[byte & 0xF];
    }
  }
  return part;
}

}  // namespace brintel::records
