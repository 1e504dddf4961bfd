// A value or the failure text that says why there is none, and the one way to pass such a failure
// up to the caller.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace vemlox {

// The failure is a finished text: it travels unchanged to the client, the log or the console.
template <typename T> using TextResult = std::expected<T, std::string>;

} // namespace vemlox

// Passing a failure up, for any std::expected whose error the caller's own error type can hold:
//
//     VEMLOX_ASSIGN_OR_RETURN(JsonValue value, reader.read_value());
//     VEMLOX_RETURN_IF_ERROR(reader.expect_end());
//
// The second declares (or assigns) its target in the enclosing scope, so it is a statement of its
// own, never the body of an unbraced `if`; declared as `auto&& value`, the target refers to the
// value inside the result instead of taking it by a move. The hidden result's name carries the line
// number, so that a lambda passed in the expression may pass its own failures up the same way.
#define VEMLOX_RETURN_IF_ERROR(...)                                                                \
    VEMLOX_RETURN_IF_ERROR_AS(VEMLOX_RESULT_NAME(__LINE__), __VA_ARGS__)

#define VEMLOX_RETURN_IF_ERROR_AS(result, ...)                                                     \
    do {                                                                                           \
        if (auto result = (__VA_ARGS__); !result) {                                                \
            return std::unexpected(std::move(result).error());                                     \
        }                                                                                          \
    } while (false)

#define VEMLOX_ASSIGN_OR_RETURN(target, ...)                                                       \
    VEMLOX_ASSIGN_OR_RETURN_AS(VEMLOX_RESULT_NAME(__LINE__), target, __VA_ARGS__)

#define VEMLOX_ASSIGN_OR_RETURN_AS(result, target, ...)                                            \
    auto result = (__VA_ARGS__);                                                                   \
    if (!result) {                                                                                 \
        return std::unexpected(std::move(result).error());                                         \
    }                                                                                              \
    target = std::move(*result)

// The same, mapping the failure on the way up: `map` takes the error and returns the caller's
// error (a kind, a message with the step's name):
//
//     VEMLOX_ASSIGN_OR_RETURN_MAPPED(install_failure("copy service"), StagedFile staged,
//                                    StagedFile::write(source, target));
//
// `map` comes first, so that the expression may hold commas of its own.
#define VEMLOX_RETURN_IF_ERROR_MAPPED(map, ...)                                                    \
    VEMLOX_RETURN_IF_ERROR_MAPPED_AS(VEMLOX_RESULT_NAME(__LINE__), map, __VA_ARGS__)

#define VEMLOX_RETURN_IF_ERROR_MAPPED_AS(result, map, ...)                                         \
    do {                                                                                           \
        if (auto result = (__VA_ARGS__); !result) {                                                \
            return std::unexpected((map)(std::move(result).error()));                              \
        }                                                                                          \
    } while (false)

#define VEMLOX_ASSIGN_OR_RETURN_MAPPED(map, target, ...)                                           \
    VEMLOX_ASSIGN_OR_RETURN_MAPPED_AS(VEMLOX_RESULT_NAME(__LINE__), map, target, __VA_ARGS__)

#define VEMLOX_ASSIGN_OR_RETURN_MAPPED_AS(result, map, target, ...)                                \
    auto result = (__VA_ARGS__);                                                                   \
    if (!result) {                                                                                 \
        return std::unexpected((map)(std::move(result).error()));                                  \
    }                                                                                              \
    target = std::move(*result)

#define VEMLOX_RESULT_NAME(line) VEMLOX_RESULT_NAME_JOINED(vemlox_result_, line)
#define VEMLOX_RESULT_NAME_JOINED(prefix, line) prefix##line
