// The error value of every operation: what went wrong, the text the client and the log are shown,
// and the response kind it maps to.
#pragma once

#include "protocol/response.hpp"

#include <expected>
#include <string>

namespace vemlox {

class ActionError {
  public:
    enum class Kind { ItemNotFound, NotSupported, OsError };

    [[nodiscard]] static ActionError item_not_found(std::string name);
    [[nodiscard]] static ActionError not_supported();
    [[nodiscard]] static ActionError os_error(std::string text);

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] const std::string& payload() const { return payload_; }

    // "item not found: " + name, "not supported on this platform" or "os error: " + text.
    [[nodiscard]] std::string shown_text() const;
    // NotFound for a missing item, Failed for everything else.
    [[nodiscard]] FailureKind failure_kind() const;

    friend bool operator==(const ActionError&, const ActionError&) = default;

  private:
    ActionError(Kind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}

    Kind kind_;
    std::string payload_;
};

template <typename T> using ActionResult = std::expected<T, ActionError>;

} // namespace vemlox
