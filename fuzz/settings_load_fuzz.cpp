// Loads arbitrary bytes as a settings file. Whatever loads must save and
// load again to the same records.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/file_system.h"
#include "foundation/settings_store.h"

namespace {

// A memory-backed folder where there is one: every save ends in an fsync.
std::string scratchFile(const char* prefix)
{
    std::string path;
    if (::access("/dev/shm", W_OK) == 0 && vantrel::makeTempFile("/dev/shm", prefix, path))
        return path;
    if (!vantrel::makeTempFile(vantrel::tempFolder(), prefix, path))
        __builtin_trap();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = scratchFile("vt-settings-in-");
    static const std::string output = scratchFile("vt-settings-out-");
    static const int cleanup = std::atexit([] {
        ::unlink(input.c_str());
        ::unlink(output.c_str());
    });
    (void)cleanup;

    std::FILE* file = std::fopen(input.c_str(), "wb");
    if (file == nullptr)
        return 0;
    const bool complete = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!complete)
        return 0;

    vantrel::SettingsStore store;
    if (!store.load(input))
        return 0;
    if (!store.save(output))
        __builtin_trap();
    vantrel::SettingsStore again;
    if (!again.load(output) || again.count() != store.count())
        __builtin_trap();
    unsigned char a[64];
    unsigned char b[64];
    for (int i = 0; i < store.count(); ++i) {
        const std::size_t n = store.dataAt(i, a, sizeof a);
        if (again.nameAt(i) != store.nameAt(i) || again.dataAt(i, b, sizeof b) != n ||
            std::string(reinterpret_cast<char*>(a), n) != std::string(reinterpret_cast<char*>(b), n))
            __builtin_trap();
    }
    return 0;
}
