// parse_request (strict typed decode with exact failure texts) against a plain DOM parse of the
// same bytes with nlohmann::json::parse, on the golden corpus of valid and invalid request lines
// plus a few realistic large requests. Prints both rates and their ratio; the target is a ratio of
// at most 1.0 (our decode no slower than the plain parse).
#include "protocol/parse_request.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

std::vector<std::string> load_corpus() {
    std::vector<std::string> corpus;
    std::ifstream file(VEMLOX_GOLDEN);
    for (std::string line; std::getline(file, line);) {
        const auto hex = nlohmann::json::parse(line).at("request_hex").get<std::string>();
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        corpus.push_back(std::move(bytes));
    }
    std::string restore = R"({"op":"restore_dns","settings":[)";
    for (int i = 0; i < 8; ++i) {
        restore += std::string(i ? "," : "") + R"({"adapter":"Ethernet )" + std::to_string(i) +
                   R"(","servers":["192.168.1.1","10.0.0.53","1.1.1.1","8.8.8.8"]})";
    }
    corpus.push_back(restore + "]}");
    corpus.push_back(
        R"({"op":"disable_adapters","names":["Wi-Fi","Ethernet","Ethernet 2","Bluetooth Network Connection"]})");
    return corpus;
}

template <typename Parse>
double seconds_per_pass(const std::vector<std::string>& corpus, Parse parse) {
    constexpr int passes = 200;
    double best = 1e9;
    for (int round = 0; round < 7; ++round) {
        std::size_t sink = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int pass = 0; pass < passes; ++pass) {
            for (const std::string& text : corpus) {
                sink += parse(text);
            }
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / passes);
        if (sink == 42) {
            std::puts("");
        }
    }
    return best;
}

} // namespace

int main() {
    const auto corpus = load_corpus();
    std::size_t bytes = 0;
    for (const auto& text : corpus) {
        bytes += text.size();
    }
    const double ours = seconds_per_pass(corpus, [](const std::string& text) -> std::size_t {
        const auto result = vemlox::parse_request(text);
        return result ? result->index() : result.error().size();
    });
    const double dom = seconds_per_pass(corpus, [](const std::string& text) -> std::size_t {
        const auto value = nlohmann::json::parse(text, nullptr, false);
        return value.is_discarded() ? 0 : value.size();
    });
    const double lines = static_cast<double>(corpus.size());
    std::printf("corpus: %zu request lines, %zu bytes\n", corpus.size(), bytes);
    std::printf("parse_request:          %10.0f lines/s\n", lines / ours);
    std::printf("nlohmann::json::parse:  %10.0f lines/s (baseline)\n", lines / dom);
    std::printf("time ratio parse_request / nlohmann: %.2f (target <= 1.00)\n", ours / dom);
    return 0;
}
