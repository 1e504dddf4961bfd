#include "win32_shared/paths.hpp"

#include <cstddef>
#include <vector>
#include <windows.h>

namespace vemlox::win {

namespace {

// Long-path-aware executables can run from paths of up to 32767 units.
constexpr DWORD MAX_MODULE_PATH_UNITS = 32768;

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool is_ascii_letter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool is_bare_drive(std::wstring_view text) {
    return text.size() == 2 && is_ascii_letter(text[0]) && text[1] == L':';
}

wchar_t ascii_upper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

struct Components {
    std::wstring drive;
    std::size_t leading_separators = 0;
    std::vector<std::wstring_view> names;
};

Components components_of(std::wstring_view path) {
    Components result;
    if (path.size() >= 2 && is_bare_drive(path.substr(0, 2))) {
        result.drive = {ascii_upper(path[0]), L':'};
        path.remove_prefix(2);
    }
    while (result.leading_separators < path.size() &&
           is_separator(path[result.leading_separators])) {
        ++result.leading_separators;
    }
    // "\x" is rooted and "\\server\share" is a UNC path; more leading separators mean nothing more.
    if (result.leading_separators > 2) {
        result.leading_separators = 2;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !is_separator(path[end])) {
            ++end;
        }
        const std::wstring_view name = path.substr(start, end - start);
        if (!name.empty() && name != L".") {
            result.names.push_back(name);
        }
        start = end + 1;
    }
    return result;
}

// GetSystemDirectoryW and GetWindowsDirectoryW share this shape; an empty result means failure.
std::wstring query_folder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    std::wstring folder(MAX_PATH, L'\0');
    UINT length = query(folder.data(), static_cast<UINT>(folder.size()));
    if (length >= folder.size()) {
        folder.resize(length);
        length = query(folder.data(), static_cast<UINT>(folder.size()));
    }
    if (length == 0 || length >= folder.size()) {
        return {};
    }
    folder.resize(length);
    return folder;
}

} // namespace

Win32Result<std::wstring> running_executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const auto capacity = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (length == 0) {
            return last_error();
        }
        if (length < capacity) {
            buffer.resize(length);
            return buffer;
        }
        if (capacity >= MAX_MODULE_PATH_UNITS) {
            return std::unexpected(static_cast<std::uint32_t>(ERROR_INSUFFICIENT_BUFFER));
        }
        buffer.resize(static_cast<std::size_t>(capacity) * 2);
    }
}

std::wstring parent_folder(std::wstring_view path) {
    std::size_t cut = path.size();
    while (cut > 0 && !is_separator(path[cut - 1])) {
        --cut;
    }
    if (cut == 0) {
        // "C:x.exe" lives in the current folder of drive C:.
        return path.size() >= 2 && is_bare_drive(path.substr(0, 2))
                   ? std::wstring(path.substr(0, 2))
                   : std::wstring();
    }
    const std::wstring_view with_separator = path.substr(0, cut);
    const std::wstring_view without = path.substr(0, cut - 1);
    if (without.empty() || is_bare_drive(without)) {
        return std::wstring(with_separator);
    }
    return std::wstring(without);
}

std::wstring join_path(std::wstring_view folder, std::wstring_view name) {
    std::wstring result(folder);
    if (!folder.empty() && !is_separator(folder.back()) && !is_bare_drive(folder)) {
        result.push_back(L'\\');
    }
    result.append(name);
    return result;
}

bool same_path(std::wstring_view a, std::wstring_view b) {
    const Components left = components_of(a);
    const Components right = components_of(b);
    return left.drive == right.drive && left.leading_separators == right.leading_separators &&
           left.names == right.names;
}

bool is_existing_file(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring system_folder() {
    return query_folder(GetSystemDirectoryW);
}

std::wstring windows_folder() {
    return query_folder(GetWindowsDirectoryW);
}

} // namespace vemlox::win
