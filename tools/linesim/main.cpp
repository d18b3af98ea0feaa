// Placeholder entry; the cable and modem modes are built in their own files.
#include <cstdio>
int main() {
    std::fprintf(stderr, "linesim: not built yet\n");
    return 2;
}
