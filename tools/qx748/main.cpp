#include <cstdio>
#include <cstring>
#include "qx_version.h"

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qx748 %s\n", QX748_VERSION_TEXT);
        return 0;
    }
    std::fprintf(stderr, "usage: qx748 --version\n");
    return 2;
}
