// The CGI request functions: one GET of a device page through a sender, the
// HTTP status judged, the outcome as a CResultDef with a ready-made message.
// They log nothing themselves; callers log the message unless its level is
// kLevelNever.
//
// Thread-safety: as the sender they are given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/CBaseHttpSender.h"
#include "web/CResultDef.h"

namespace dravnel::HUtils {

// GET `path`. Any 2xx succeeds; then, with readBody, `reply` holds the body
// (otherwise the request stays open in the sender for the caller to read).
// No status: level 4, code 9. Another status: level 1, code 6.
CResultDef RequestGetRD(const std::string& path, std::vector<uint8_t>& reply, Web::CBaseHttpSender& sender,
                        bool readBody);
// GET `path` and read its body: true only for status 200 with a non-empty body.
bool RequestGetBody(const std::string& path, Web::CBaseHttpSender& sender, std::vector<uint8_t>& reply);
// RequestGetRD without reading the body.
CResultDef RequestGetNoBody(const std::string& path, Web::CBaseHttpSender& sender);

}  // namespace dravnel::HUtils
