// Writes the starting corpus of the ESE fuzzer into a folder: the first pages of a real
// WebCache (its header, its catalog, and with more pages the first small tables), cut short so
// that the fuzzer works on few bytes.
//
//   make_ese_fuzz_seeds FOLDER [WebCacheV01.dat.gz]

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Unpacked(const std::string& packed) {
    std::string bytes;
    const std::string command = "gzip -dc '" + packed + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return bytes;
    char buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        bytes.append(buffer, got);
    ::pclose(pipe);
    return bytes;
}

void Write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: make_ese_fuzz_seeds FOLDER [WebCacheV01.dat.gz]\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    int written = 0;
    if (argc > 2 && std::filesystem::exists(argv[2])) {
        const std::string sample = Unpacked(argv[2]);
        constexpr std::size_t kPage = 32768;
        // Header and shadow, the catalog (page 4), then the first tables (pages 29 to 31).
        for (const std::size_t pages : {6, 33}) {
            if (sample.size() < pages * kPage)
                continue;
            Write(folder / ("webcache-" + std::to_string(pages) + "-pages"),
                  sample.substr(0, pages * kPage));
            ++written;
        }
    }
    std::printf("%d ESE seeds in %s\n", written, folder.c_str());
    return 0;
}
