#include "LibraryFile.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

#if defined(__x86_64__)
constexpr std::uint16_t hostMachine = EM_X86_64;
// The system loader's own folders and its cache's flag for this processor's libraries.
const char *const defaultFolders[] = {"/lib/x86_64-linux-gnu",
                                      "/usr/lib/x86_64-linux-gnu",
                                      "/lib64",
                                      "/usr/lib64",
                                      "/lib",
                                      "/usr/lib"};
constexpr std::int32_t cacheArchFlag = 0x0300;
#elif defined(__aarch64__)
constexpr std::uint16_t hostMachine = EM_AARCH64;
const char *const defaultFolders[] = {"/lib/aarch64-linux-gnu",
                                      "/usr/lib/aarch64-linux-gnu",
                                      "/lib64",
                                      "/usr/lib64",
                                      "/lib",
                                      "/usr/lib"};
constexpr std::int32_t cacheArchFlag = 0x0a00;
#else
#error "no ELF machine known for this processor"
#endif

const char *machineName(std::uint16_t machine)
{
    switch (machine) {
    case EM_X86_64:
        return "x86-64";
    case EM_AARCH64:
        return "aarch64";
    case EM_386:
        return "i386";
    case EM_ARM:
        return "32-bit ARM";
    case EM_RISCV:
        return "RISC-V";
    case EM_PPC64:
        return "POWER";
    default:
        return nullptr;
    }
}

// A file descriptor, closed when it goes.
struct File
{
    int fd;
    explicit File(const std::string &path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~File()
    {
        if (fd >= 0)
            ::close(fd);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    bool read(void *into, std::size_t bytes, std::uint64_t at) const
    {
        return ::pread(fd, into, bytes, off_t(at)) == ssize_t(bytes);
    }
};

bool isFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// glibc's cache of the loader's folders: a header, entries of flags, name and path (offsets
// into the file, counted from the header), then the strings.
struct CacheHeader
{
    char magic[17];
    char version[3];
    std::uint32_t libraries;
    std::uint32_t stringBytes;
    std::uint8_t flags;
    std::uint8_t padding[3];
    std::uint32_t extensionOffset;
    std::uint32_t unused[3];
};
struct CacheEntry
{
    std::int32_t flags;
    std::uint32_t name;
    std::uint32_t path;
    std::uint32_t osVersion;
    std::uint64_t hwcap;
};

// The cache's paths for the name: for this processor's libraries, and for others (which the
// loader skips, but which are worth naming when nothing else has the name).
struct Cached
{
    std::vector<std::string> ours, others;
};
Cached cachedFiles(const std::string &bareName)
{
    Cached found;
    File cache("/etc/ld.so.cache");
    struct stat st;
    if (cache.fd < 0 || ::fstat(cache.fd, &st) != 0)
        return {};
    std::vector<char> bytes(std::size_t(st.st_size));
    if (bytes.empty() || !cache.read(bytes.data(), bytes.size(), 0))
        return {};
    // The new format alone, or after the old one (whose entries are 12 bytes each).
    std::size_t base = 0;
    if (bytes.size() >= 16 && std::memcmp(bytes.data(), "ld.so-1.7.0", 11) == 0) {
        std::uint32_t oldCount = 0;
        std::memcpy(&oldCount, bytes.data() + 12, 4);
        base = (16 + std::size_t(oldCount) * 12 + 7) & ~std::size_t(7);
    }
    CacheHeader header;
    if (base + sizeof header > bytes.size())
        return {};
    std::memcpy(&header, bytes.data() + base, sizeof header);
    if (std::memcmp(header.magic, "glibc-ld.so.cache", 17) != 0 ||
        std::memcmp(header.version, "1.1", 3) != 0)
        return {};
    const auto string = [&](std::uint32_t at) {
        const std::size_t from = base + at;
        if (from >= bytes.size())
            return std::string();
        return std::string(bytes.data() + from, strnlen(bytes.data() + from, bytes.size() - from));
    };
    for (std::uint32_t i = 0; i < header.libraries; ++i) {
        const std::size_t at = base + sizeof header + std::size_t(i) * sizeof(CacheEntry);
        if (at + sizeof(CacheEntry) > bytes.size())
            break;
        CacheEntry entry;
        std::memcpy(&entry, bytes.data() + at, sizeof entry);
        if (string(entry.name) != bareName)
            continue;
        ((entry.flags & 0xff00) == cacheArchFlag ? found.ours : found.others)
            .push_back(string(entry.path));
    }
    return found;
}

} // namespace

DynamicLibrary::Failure inspectLibraryFile(const std::string &path, std::string &why)
{
    using Failure = DynamicLibrary::Failure;
    const File file(path);
    struct stat st;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        why = std::strerror(errno);
        return Failure::Unloadable;
    }
    const std::uint64_t size = std::uint64_t(st.st_size);
    Elf64_Ehdr header;
    if (size < EI_NIDENT || !file.read(&header, EI_NIDENT, 0) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        why = "not a shared library: no ELF header";
        return Failure::NotALibrary;
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
        why = "a library for another processor (not 64-bit little-endian)";
        return Failure::OtherProcessor;
    }
    if (size < sizeof header || !file.read(&header, sizeof header, 0)) {
        why = "damaged: cut short within its ELF header (" + std::to_string(size) + " bytes)";
        return Failure::Damaged;
    }
    if (header.e_machine != hostMachine) {
        const char *name = machineName(header.e_machine);
        why = std::string("a library for another processor (") +
              (name ? name : "ELF machine " + std::to_string(header.e_machine)) + ")";
        return Failure::OtherProcessor;
    }
    if (header.e_type != ET_DYN) {
        why = "not a shared library (ELF type " + std::to_string(header.e_type) + ")";
        return Failure::NotALibrary;
    }
    // Every segment the loader maps must lie within the file.
    std::uint64_t needed = header.e_phoff + std::uint64_t(header.e_phnum) * sizeof(Elf64_Phdr);
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    const bool readable =
        header.e_phentsize == sizeof(Elf64_Phdr) && needed <= size &&
        file.read(segments.data(), segments.size() * sizeof(Elf64_Phdr), header.e_phoff);
    for (const Elf64_Phdr &segment : segments) {
        if (readable && segment.p_type == PT_LOAD)
            needed = std::max(needed, segment.p_offset + segment.p_filesz);
    }
    if (!readable || needed > size) {
        std::ostringstream said;
        said << "damaged: " << size << " bytes, cut short";
        if (readable)
            said << " (its segments need " << needed << ")";
        why = said.str();
        return Failure::Damaged;
    }
    return Failure::None;
}

std::string systemLibraryFile(const std::string &bareName)
{
    std::vector<std::string> paths;
    if (const char *folders = std::getenv("LD_LIBRARY_PATH")) {
        std::istringstream list(folders);
        for (std::string folder; std::getline(list, folder, ':');) {
            if (!folder.empty())
                paths.push_back(folder + "/" + bareName);
        }
    }
    // The cache's entries for this processor come before the default folders.
    const Cached cached = cachedFiles(bareName);
    paths.insert(paths.end(), cached.ours.begin(), cached.ours.end());
    for (const char *folder : defaultFolders)
        paths.push_back(std::string(folder) + "/" + bareName);
    paths.insert(paths.end(), cached.others.begin(), cached.others.end());
    for (const std::string &path : paths) {
        if (isFile(path))
            return path;
    }
    return std::string();
}
