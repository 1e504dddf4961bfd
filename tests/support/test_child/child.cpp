// The child program of the process runner's tests. The first argument picks what it does:
//   args                 writes each further argument (CommandLineToArgvW) in UTF-8, each ended by
//                        a NUL byte; exits 3 if the C runtime split the line differently
//   flood MIB            writes MIB MiB to standard output and as much to standard error,
//                        alternating 64 KiB chunks (a parent reading one stream at a time blocks)
//   write OUT ERR CODE   writes the hex bytes OUT and ERR to standard output and error, exits CODE
//   stdin                reads standard input to its end and writes "stdin N" (N bytes read)
//   wait STARTED RELEASE signals the named event STARTED, then waits for the named event RELEASE
//                        (60 s at most) and writes "released" or "timed out"
//   sleep MS             sleeps MS milliseconds
//   tree FILE MS         starts a copy of itself that sleeps 60 s holding our standard handles,
//                        writes our process id and the copy's into FILE, then sleeps MS ms
// shellapi.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

bool write_all(DWORD which, std::string_view bytes) {
    const HANDLE out = GetStdHandle(which);
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

std::string from_hex(std::wstring_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const std::wstring pair(hex.substr(i, 2));
        bytes.push_back(static_cast<char>(std::wcstoul(pair.c_str(), nullptr, 16)));
    }
    return bytes;
}

int echo_arguments(int argc, wchar_t** argv) {
    int count = 0;
    wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (split == nullptr) {
        return 2;
    }
    std::string out;
    bool same = count == argc;
    for (int i = 2; i < count; ++i) {
        out += utf8(split[i]);
        out.push_back('\0');
        same = same && std::wstring_view(split[i]) == std::wstring_view(argv[i]);
    }
    LocalFree(split);
    write_all(STD_OUTPUT_HANDLE, out);
    return same ? 0 : 3;
}

int flood(const wchar_t* mebibytes) {
    constexpr std::size_t CHUNK = 64 * 1024;
    const std::size_t chunks = std::wcstoul(mebibytes, nullptr, 10) * 16;
    std::string out(CHUNK, '\0');
    std::string err(CHUNK, '\0');
    for (std::size_t i = 0; i < CHUNK; ++i) {
        out[i] = static_cast<char>('a' + i % 26);
        err[i] = static_cast<char>('0' + i % 10);
    }
    for (std::size_t i = 0; i < chunks; ++i) {
        if (!write_all(STD_OUTPUT_HANDLE, out) || !write_all(STD_ERROR_HANDLE, err)) {
            return 2;
        }
    }
    return 0;
}

int read_input() {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::size_t total = 0;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(in, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        total += read;
    }
    return write_all(STD_OUTPUT_HANDLE, "stdin " + std::to_string(total)) ? 0 : 2;
}

int wait_for_release(const wchar_t* started_name, const wchar_t* release_name) {
    const HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, started_name);
    const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, release_name);
    if (started == nullptr || release == nullptr) {
        return 2;
    }
    SetEvent(started);
    const bool released = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0;
    CloseHandle(started);
    CloseHandle(release);
    write_all(STD_OUTPUT_HANDLE, released ? "released" : "timed out");
    return 0;
}

int start_tree(const wchar_t* pids_file, const wchar_t* milliseconds) {
    wchar_t self[MAX_PATH];
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) {
        return 2;
    }
    std::wstring command_line = L"\"" + std::wstring(self) + L"\" sleep 60000";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    // Inheriting every inheritable handle, our standard handles among them.
    if (!CreateProcessW(self, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
        return 2;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    const std::string pids =
        std::to_string(GetCurrentProcessId()) + " " + std::to_string(started.dwProcessId);
    const HANDLE file =
        CreateFileW(pids_file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool saved =
        file != INVALID_HANDLE_VALUE &&
        WriteFile(file, pids.data(), static_cast<DWORD>(pids.size()), &written, nullptr) != 0;
    CloseHandle(file);
    Sleep(std::wcstoul(milliseconds, nullptr, 10));
    return saved ? 0 : 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view mode = argc > 1 ? argv[1] : L"";
    if (mode == L"args") {
        return echo_arguments(argc, argv);
    }
    if (mode == L"flood" && argc == 3) {
        return flood(argv[2]);
    }
    if (mode == L"write" && argc == 5) {
        const bool written = write_all(STD_OUTPUT_HANDLE, from_hex(argv[2])) &&
                             write_all(STD_ERROR_HANDLE, from_hex(argv[3]));
        return written ? static_cast<int>(std::wcstoul(argv[4], nullptr, 10)) : 2;
    }
    if (mode == L"stdin") {
        return read_input();
    }
    if (mode == L"wait" && argc == 4) {
        return wait_for_release(argv[2], argv[3]);
    }
    if (mode == L"sleep" && argc == 3) {
        Sleep(std::wcstoul(argv[2], nullptr, 10));
        return 0;
    }
    if (mode == L"tree" && argc == 4) {
        return start_tree(argv[2], argv[3]);
    }
    write_all(STD_ERROR_HANDLE, "vlx-test-child: unknown mode\n");
    return 64;
}
