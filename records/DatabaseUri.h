#pragma once

#include <string>
#include <string_view>

namespace brintel::records {

// postgres:// or postgresql://: a shared database for libpq, not a file.
bool IsPostgresUri(std::string_view db);

// The URI as it may be shown: a password in its user part or in its query
// is left out.
std::string WithoutPassword(const std::string& uri);

// Text as one part of a URI: every byte but the unreserved ones and those in
// `keep` percent-encoded.
std::string UriPart(std::string_view text, std::string_view keep = {});

}  // namespace brintel::records
