// The machinery behind the typed calls: a request sent, and its ok response read back as what the
// operation's Reply carries (request.hpp), so that each call's result type follows from its
// request type.
#pragma once

#include "protocol/request.hpp"
#include "protocol/response.hpp"

#include <expected>
#include <string_view>
#include <utility>
#include <vemlox/client.hpp>

namespace vemlox::client {

// A response line read back: the ok response, whose payload is read as `expected` says, or the
// Error for an error response (Rejected, NotFound, Failed) or for an unreadable line (BadResponse).
[[nodiscard]] std::expected<OkResponse, Error> read_answer(std::string_view line,
                                                           const OkPayload& expected);

// The kind of ok response an operation gives, empty.
[[nodiscard]] OkPayload reply_expected(const Request& request);

// Sends one request and reads its ok response; any other outcome is the Error.
[[nodiscard]] std::expected<OkResponse, Error> call_service(const Request& request,
                                                            const ClientOptions& options);

// One operation, its result typed: nothing, or the value of its Reply's one member.
template <wire::Operation Operation>
[[nodiscard]] std::expected<wire::ReplyValueOf<typename Operation::Reply>, Error>
call(Operation operation, const ClientOptions& options) {
    using Reply = typename Operation::Reply;
    VEMLOX_ASSIGN_OR_RETURN(OkResponse ok, call_service(Request(std::move(operation)), options));
    if constexpr (wire::MEMBER_COUNT<Reply> == 0) {
        return {};
    } else {
        Reply& reply = std::get<Reply>(ok.payload);
        return std::move(reply.*std::get<0>(wire::SchemaOf<Reply>::WIRE.members).field);
    }
}

} // namespace vemlox::client
