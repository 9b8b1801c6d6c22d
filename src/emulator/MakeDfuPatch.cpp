// quillon-mkpatch: writes the DFU patch file of a controller.
//   quillon-mkpatch <controller index> <controller name> <output file>
#include "emulator/DfuPatch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: quillon-mkpatch <controller index> <controller name> <output file>\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long index = std::strtoul(argv[1], &end, 0);
    const std::string name = argv[2];
    if (!end || *end || index > 255 || name.empty() || name.size() > 16) {
        std::fprintf(stderr, "quillon-mkpatch: the index must be 0 to 255 and the name 1 to 16 characters\n");
        return 2;
    }
    const std::vector<uint8_t> patch = BuildDfuPatch(static_cast<uint8_t>(index), name, DefaultDfuPatchPayload(name));
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(patch.data()), static_cast<std::streamsize>(patch.size()));
    if (!out) {
        std::fprintf(stderr, "quillon-mkpatch: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
