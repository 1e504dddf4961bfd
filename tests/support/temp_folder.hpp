// Test helpers for real files: a fresh folder under the user's temporary folder for one test,
// removed with its files afterwards, and whole-file reads and writes that share like the service.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <atomic>
#include <optional>
#include <string>
#include <windows.h>

namespace vemlox::win::testing {

class TempFolder {
  public:
    TempFolder() {
        static std::atomic<unsigned> counter{0};
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        path_ = std::wstring(temp, length) + L"vemlox-test-" +
                std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter.fetch_add(1)) + L"-" + std::to_wstring(GetTickCount64());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAW entry{};
        const HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") {
                    DeleteFileW((path_ + L"\\" + name).c_str());
                }
            } while (FindNextFileW(search, &entry) != 0);
            FindClose(search);
        }
        RemoveDirectoryW(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::wstring& path() const { return path_; }
    [[nodiscard]] std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

inline constexpr DWORD SHARE_EVERYTHING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline std::optional<std::string> read_file(const std::wstring& path) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, SHARE_EVERYTHING, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr) != 0 && count != 0) {
        content.append(buffer, count);
    }
    return content;
}

inline bool write_file(const std::wstring& path, const std::string& content) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, SHARE_EVERYTHING, nullptr,
                                      CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                     nullptr) != 0 &&
           written == content.size();
}

} // namespace vemlox::win::testing
