#include "protocol/parse_request.hpp"

#include "protocol/decode_request.hpp"

namespace vemlox {

TextResult<Request> parse_request(std::string_view line) {
    if (line.size() > MAX_REQUEST_BYTES) {
        return std::unexpected(std::string("request too large"));
    }
    TextResult<Request> request = decode_request(line);
    if (request) {
        VEMLOX_RETURN_IF_ERROR(std::visit(
            [](const auto& operation) { return wire::check_rules(operation); }, *request));
    }
    return request;
}

} // namespace vemlox
