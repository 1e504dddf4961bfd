// Fuzzes request parsing, and checks our reader against nlohmann/json: a text is JSON for both or
// for neither, with the same value, apart from the byte-order mark (nlohmann skips it), our nesting
// limit, and texts with a NUL byte (nlohmann takes a NUL for the end of its input). Every failure
// text must also travel in a response that nlohmann reads back unchanged. Any disagreement aborts,
// so the fuzzer reports it like a crash.
#include "protocol/decode_request.hpp"
#include "protocol/json_reader.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/response.hpp"
#include "support/json_oracle.hpp"

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

namespace {

[[noreturn]] void disagree(std::string_view text, const char* what) {
    std::fprintf(stderr, "disagreement: %s on %zu bytes\n", what, text.size());
    std::abort();
}

bool starts_with_byte_order_mark(std::string_view text) {
    return text.starts_with("\xEF\xBB\xBF");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto request = vemlox::parse_request(text);
    if (!request) {
        const auto line = vemlox::encode_response(
            vemlox::ErrorResponse{vemlox::FailureKind::Rejected, request.error()});
        const auto response = nlohmann::json::parse(line, nullptr, false);
        if (response.is_discarded() || response.value("message", "") != request.error()) {
            disagree(text, "a failure text that does not survive its response");
        }
    }

    const auto ours = vemlox::parse_json(text);
    const bool theirs = nlohmann::json::accept(text);
    if (!ours && ours.error().starts_with("recursion limit exceeded")) {
        return 0;
    }
    if (starts_with_byte_order_mark(text) || text.find('\0') != std::string_view::npos) {
        return 0;
    }
    if (ours.has_value() != theirs) {
        disagree(text, ours ? "we accept, nlohmann rejects" : "nlohmann accepts, we reject");
    }
    if (ours && vemlox::to_nlohmann(*ours) != nlohmann::json::parse(text)) {
        disagree(text, "different values");
    }
    // A request that decodes is JSON; a text that is not JSON is no request.
    const auto decoded =
        vemlox::decode_request(text.substr(0, std::min(text.size(), vemlox::MAX_REQUEST_BYTES)));
    if (decoded &&
        !vemlox::parse_json(text.substr(0, std::min(text.size(), vemlox::MAX_REQUEST_BYTES)))) {
        disagree(text, "a decoded request that is not JSON");
    }
    return 0;
}
