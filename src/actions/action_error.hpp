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
    // The missing item's name or the system's text; empty when not supported.
    [[nodiscard]] const std::string& detail() const { return detail_; }

    // What the response and the log show: "item not found: " + name, "not supported on this
    // platform" or "os error: " + text.
    [[nodiscard]] std::string message() const;
    // NotFound for a missing item, Failed for everything else.
    [[nodiscard]] FailureKind failure_kind() const;

    friend bool operator==(const ActionError&, const ActionError&) = default;

  private:
    ActionError(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}

    Kind kind_;
    std::string detail_;
};

template <typename T> using ActionResult = std::expected<T, ActionError>;

} // namespace vemlox
