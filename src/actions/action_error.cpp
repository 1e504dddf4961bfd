#include "actions/action_error.hpp"

namespace vemlox {

ActionError ActionError::item_not_found(std::string name) {
    return ActionError(Kind::ItemNotFound, std::move(name));
}

ActionError ActionError::not_supported() {
    return ActionError(Kind::NotSupported, {});
}

ActionError ActionError::os_error(std::string text) {
    return ActionError(Kind::OsError, std::move(text));
}

std::string ActionError::shown_text() const {
    switch (kind_) {
    case Kind::ItemNotFound:
        return "item not found: " + payload_;
    case Kind::NotSupported:
        return "not supported on this platform";
    case Kind::OsError:
        return "os error: " + payload_;
    }
    return {};
}

FailureKind ActionError::failure_kind() const {
    return kind_ == Kind::ItemNotFound ? FailureKind::NotFound : FailureKind::Failed;
}

} // namespace vemlox
