#include "machine/environment_block.hpp"

#include "win32_shared/paths.hpp"
#include "win32_shared/unique_handle.hpp"
#include "win32_shared/wide.hpp"

#include <algorithm>
#include <windows.h>

namespace vemlox::win {

namespace {

struct EnvironmentStringsTraits {
    using pointer = wchar_t*;
    static pointer invalid() { return nullptr; }
    static void close(pointer value) { FreeEnvironmentStringsW(value); }
};
using UniqueEnvironmentStrings = UniqueAny<EnvironmentStringsTraits>;

// The name ends at the first "=" after the first character: entries such as "=C:=C:\work" keep
// the current folder of each drive under a name that itself starts with "=".
std::wstring_view name_of(std::wstring_view entry) {
    const std::size_t equals = entry.find(L'=', 1);
    return equals == std::wstring_view::npos ? entry : entry.substr(0, equals);
}

int compare_names(std::wstring_view a, std::wstring_view b) {
    // Ordinal comparison with case folding is how the system itself matches names; a locale's
    // collation would be wrong for this.
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE);
}

// Every entry named `name` in any case goes, and one "name=value" takes their place.
void set_variable(std::vector<std::wstring>& entries, std::wstring_view name,
                  std::wstring_view value) {
    std::erase_if(entries, [name](const std::wstring& entry) {
        return compare_names(name_of(entry), name) == CSTR_EQUAL;
    });
    entries.push_back(std::wstring(name) + L"=" + std::wstring(value));
}

} // namespace

std::vector<std::wstring> split_environment_block(std::wstring_view block) {
    std::vector<std::wstring> entries;
    std::size_t start = 0;
    while (start < block.size() && block[start] != L'\0') {
        std::size_t end = block.find(L'\0', start);
        if (end == std::wstring_view::npos) {
            end = block.size();
        }
        entries.emplace_back(block.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

std::wstring build_environment_block(std::span<const std::wstring> inherited,
                                     std::span<const EnvironmentPair> pairs) {
    std::vector<std::wstring> entries(inherited.begin(), inherited.end());
    for (const EnvironmentPair& pair : pairs) {
        set_variable(entries, to_wide(pair.name), to_wide(pair.value));
    }
    std::ranges::stable_sort(entries, [](const std::wstring& a, const std::wstring& b) {
        return compare_names(name_of(a), name_of(b)) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block.push_back(L'\0');
    }
    // An empty environment still needs two NULs to end it.
    if (entries.empty()) {
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

SearchPaths system_search_paths(std::wstring_view system_folder, std::wstring_view windows_folder) {
    // The folders of Windows' own default PATH, in its order, and Windows PowerShell's.
    std::vector<std::wstring> folders;
    if (!system_folder.empty()) {
        folders.emplace_back(system_folder);
    }
    if (!windows_folder.empty()) {
        folders.emplace_back(windows_folder);
    }
    SearchPaths paths;
    if (!system_folder.empty()) {
        folders.push_back(join_path(system_folder, L"Wbem"));
        folders.push_back(join_path(system_folder, L"WindowsPowerShell\\v1.0"));
        // The modules that ship with Windows PowerShell ($PSHOME\Modules), which hold every cmdlet
        // our scripts use. PowerShell itself adds the all-users folder under Program Files and
        // LocalSystem's own profile folder, both writable by administrators only.
        paths.module_path = join_path(system_folder, L"WindowsPowerShell\\v1.0\\Modules");
    }
    for (const std::wstring& folder : folders) {
        paths.path += (paths.path.empty() ? L"" : L";") + folder;
    }
    return paths;
}

std::wstring child_environment_block(std::span<const std::wstring> inherited,
                                     std::span<const EnvironmentPair> pairs) {
    const SearchPaths paths = system_search_paths(system_folder(), windows_folder());
    std::vector<std::wstring> entries(inherited.begin(), inherited.end());
    set_variable(entries, L"PATH", paths.path);
    set_variable(entries, L"PSModulePath", paths.module_path);
    return build_environment_block(entries, pairs);
}

Win32Result<std::vector<std::wstring>> own_environment() {
    const UniqueEnvironmentStrings strings(GetEnvironmentStringsW());
    if (!strings) {
        return last_error();
    }
    // The block ends with an empty entry; find it to know the block's length.
    const wchar_t* end = strings.get();
    while (*end != L'\0') {
        end += std::wstring_view(end).size() + 1;
    }
    return split_environment_block(std::wstring_view(strings.get(), end));
}

} // namespace vemlox::win
