#include "machine/environment_block.hpp"

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
        const std::wstring name = to_wide(pair.name);
        std::erase_if(entries, [&name](const std::wstring& entry) {
            return compare_names(name_of(entry), name) == CSTR_EQUAL;
        });
        entries.push_back(name + L"=" + to_wide(pair.value));
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

std::expected<std::vector<std::wstring>, std::uint32_t> own_environment() {
    const UniqueEnvironmentStrings strings(GetEnvironmentStringsW());
    if (!strings) {
        return std::unexpected(GetLastError());
    }
    // The block ends with an empty entry; find it to know the block's length.
    const wchar_t* end = strings.get();
    while (*end != L'\0') {
        end += std::wstring_view(end).size() + 1;
    }
    return split_environment_block(std::wstring_view(strings.get(), end));
}

} // namespace vemlox::win
