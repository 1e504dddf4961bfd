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

std::string ActionError::message() const {
    switch (kind_) {
    case Kind::ItemNotFound:
        return "item not found: " + detail_;
    case Kind::NotSupported:
        return "not supported on this platform";
    case Kind::OsError:
        return "os error: " + detail_;
    }
    return {};
}

FailureKind ActionError::failure_kind() const {
    return kind_ == Kind::ItemNotFound ? FailureKind::NotFound : FailureKind::Failed;
}

} // namespace vemlox
