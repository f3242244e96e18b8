// A small mutational driver for libFuzzer targets in builds without libFuzzer
// (g++). Runs every seed, then mutates seeds at random for the given number of
// seconds. Usage: TARGET SECONDS [SEED_DIR...]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

void Mutate(Bytes& b, std::mt19937& rng, const std::vector<Bytes>& seeds) {
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : 0; };
    static const uint8_t interesting[] = {0x00, 0x01, 0x7f, 0x80, 0xff, '$', '\r', '\n', '=', '&', ':', ' ', '|'};
    const int rounds = 1 + static_cast<int>(pick(4));
    for (int r = 0; r < rounds; ++r) {
        switch (pick(7)) {
        case 0:
            if (!b.empty()) b[pick(b.size())] ^= static_cast<uint8_t>(1u << pick(8));
            break;
        case 1:
            if (!b.empty()) b[pick(b.size())] = interesting[pick(sizeof interesting)];
            break;
        case 2: {
            const size_t at = pick(b.size() + 1), n = 1 + pick(16);
            Bytes add(n);
            for (auto& x : add) x = static_cast<uint8_t>(rng());
            b.insert(b.begin() + static_cast<long>(at), add.begin(), add.end());
            break;
        }
        case 3:
            if (!b.empty()) {
                const size_t at = pick(b.size()), n = 1 + pick(std::min<size_t>(32, b.size() - at));
                b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
            }
            break;
        case 4:
            if (!b.empty()) {
                const size_t at = pick(b.size()), n = 1 + pick(std::min<size_t>(64, b.size() - at));
                Bytes copy(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
                const size_t to = pick(b.size() + 1);
                b.insert(b.begin() + static_cast<long>(to), copy.begin(), copy.end());
            }
            break;
        case 5:
            b.resize(pick(b.size() + 1));
            break;
        case 6:
            if (!seeds.empty()) {
                const Bytes& other = seeds[pick(seeds.size())];
                const size_t from = pick(other.size() + 1);
                b.resize(pick(b.size() + 1));
                b.insert(b.end(), other.begin() + static_cast<long>(from), other.end());
            }
            break;
        }
    }
    if (b.size() > 8192) b.resize(8192);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 4;
    std::vector<Bytes> seeds;
    for (int i = 2; i < argc; ++i) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
    LLVMFuzzerTestOneInput(nullptr, 0);

    const uint32_t seed = std::random_device{}();
    std::printf("standalone fuzz: %zu seeds, random seed %u, %d s\n", seeds.size(), seed, seconds);
    std::mt19937 rng(seed);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    uint64_t runs = 0;
    Bytes input;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 256; ++i, ++runs) {
            input = seeds.empty() ? Bytes() : seeds[rng() % seeds.size()];
            Mutate(input, rng, seeds);
            LLVMFuzzerTestOneInput(input.data(), input.size());
        }
    }
    std::printf("standalone fuzz: %llu runs, no crash\n", static_cast<unsigned long long>(runs));
    return 0;
}
