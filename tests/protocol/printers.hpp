// Readable GoogleTest output for the protocol's records: a failed comparison shows the wire form.
#pragma once

#include "protocol/response.hpp"

#include <ostream>

namespace vemlox {

inline void PrintTo(const OkResponse& response, std::ostream* os) {
    *os << encode_response(Response(response));
}

inline void PrintTo(const ErrorResponse& response, std::ostream* os) {
    *os << encode_response(Response(response));
}

inline void PrintTo(const DnsSetting& setting, std::ostream* os) {
    *os << encode_response(Response(OkResponse{1, reply::DnsSettings{{setting}}}));
}

} // namespace vemlox
