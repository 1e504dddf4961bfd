// Fuzzes request parsing, and checks our reader against nlohmann/json: a text is JSON for both or
// for neither, with the same value, apart from the byte-order mark (nlohmann skips it) and our
// nesting limit, and texts with a NUL byte (nlohmann takes a NUL for the end of its input). Any disagreement aborts, so the fuzzer reports it like a crash.
#include "protocol/decode_request.hpp"
#include "protocol/json_reader.hpp"
#include "protocol/parse_request.hpp"
#include "protocol/response.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using vemlox::JsonValue;

nlohmann::json to_nlohmann(const JsonValue& value) {
    struct Convert {
        nlohmann::json operator()(std::nullptr_t) const { return nullptr; }
        nlohmann::json operator()(bool v) const { return v; }
        nlohmann::json operator()(std::uint64_t v) const { return v; }
        nlohmann::json operator()(std::int64_t v) const { return v; }
        nlohmann::json operator()(double v) const { return v; }
        nlohmann::json operator()(const std::string& v) const { return v; }
        nlohmann::json operator()(const vemlox::JsonArray& elements) const {
            auto array = nlohmann::json::array();
            for (const auto& element : elements) {
                array.push_back(to_nlohmann(element));
            }
            return array;
        }
        nlohmann::json operator()(const vemlox::JsonObject& members) const {
            auto object = nlohmann::json::object();
            for (const auto& [key, member] : members) {
                object[key] = to_nlohmann(member); // the last of repeated members, as nlohmann keeps
            }
            return object;
        }
    };
    return std::visit(Convert{}, value.data);
}

[[noreturn]] void disagree(std::string_view text, const char* what) {
    std::fprintf(stderr, "disagreement: %s on %zu bytes\n", what, text.size());
    std::abort();
}

bool starts_with_byte_order_mark(std::string_view text) { return text.starts_with("\xEF\xBB\xBF"); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto request = vemlox::parse_request(text);
    if (request) {
        // A valid request always has an answer that encodes.
        (void)vemlox::encode_response(vemlox::OkResponse{});
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
    if (ours && to_nlohmann(*ours) != nlohmann::json::parse(text)) {
        disagree(text, "different values");
    }
    // A request that decodes is JSON; a text that is not JSON is no request.
    const auto decoded = vemlox::decode_request(text.substr(0, std::min(text.size(), vemlox::MAX_REQUEST_BYTES)));
    if (decoded && !vemlox::parse_json(text.substr(0, std::min(text.size(), vemlox::MAX_REQUEST_BYTES)))) {
        disagree(text, "a decoded request that is not JSON");
    }
    return 0;
}
