// ping_app: asks the Vemlox service whether it is there, the way an app adopting the client
// library does. Prints "ping: ok" and exits 0 for an ok response; prints why not and exits 1.
// The service answers only the app's own executables in its install folder, so this program must
// run from there as vemlox-app.exe.
#include <cstdio>
#include <string>
#include <string_view>
#include <vemlox/client.hpp>
#include <windows.h>

namespace {

// The messages are UTF-8 and may be Windows' text in the user's language: a console shows them
// only through its UTF-16 interface, whatever its code page; a file or pipe gets the UTF-8 bytes.
void print_line(std::string_view text) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == nullptr || out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        return;
    }
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), size)));
    wide += L"\r\n";
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

} // namespace

int main() {
    const auto pinged = vemlox::client::ping();
    if (!pinged) {
        const vemlox::client::Error& error = pinged.error();
        print_line(std::string(error.is_error_answer() ? "ping: " : "ping: no response: ") +
                   error.message);
        return 1;
    }
    print_line("ping: ok");
    return 0;
}
