// Writes the 256-pixel image of a Windows icon file, which the file stores as a whole PNG, to a
// file of its own: the icon a Linux desktop shows for the installed program.
//   IconPng <icon.ico> <out.png>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::uint32_t little(const std::vector<unsigned char> &d, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | d[at + std::size_t(i)];
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s icon.ico out.png\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> d((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    // ICONDIR: reserved 0, type 1, count; then 16-byte entries whose width byte 0 means 256.
    if (d.size() < 6 || little(d, 0, 2) != 0 || little(d, 2, 2) != 1) {
        std::fprintf(stderr, "%s: not an icon file\n", argv[1]);
        return 1;
    }
    const std::uint32_t count = little(d, 4, 2);
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * std::size_t(i);
        if (entry + 16 > d.size())
            break;
        const std::uint32_t size = little(d, entry + 8, 4);
        const std::uint32_t offset = little(d, entry + 12, 4);
        if (d[entry] != 0 || d[entry + 1] != 0 || std::size_t(offset) + size > d.size() ||
            size < sizeof signature ||
            !std::equal(signature, signature + sizeof signature, d.begin() + offset))
            continue;
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(d.data() + offset), std::streamsize(size));
        return out ? 0 : 1;
    }
    std::fprintf(stderr, "%s: no 256-pixel PNG image\n", argv[1]);
    return 1;
}
