#include "setup/install_dir.hpp"

#include "protocol/text_result.hpp"
#include "win32_shared/paths.hpp"
#include "win32_shared/product_names.hpp"
#include "win32_shared/wide.hpp"

#include <windows.h>

namespace vemlox::win {

namespace {

constexpr wchar_t PROGRAM_FILES_VARIABLE[] = L"ProgramFiles";

} // namespace

TextResult<std::wstring> install_dir() {
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
        // An empty value also gives 0, and leaves the last error as it was.
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(PROGRAM_FILES_VARIABLE, value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::unexpected(std::string(PROGRAM_FILES_NOT_SET));
            }
            value.clear();
            break;
        }
        if (length < value.size()) {
            value.resize(length);
            break;
        }
        // Too small: `length` is the size needed, terminating NUL included.
        value.resize(length);
    }
    return join_path(value, to_wide(INSTALL_FOLDER_NAME));
}

} // namespace vemlox::win
