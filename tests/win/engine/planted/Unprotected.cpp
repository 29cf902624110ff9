// The control of the planted-library test: a program without the tool's protection, which
// loads each library named on its command line as most programs do, by its bare name. Beside
// the planted libraries it must load every one of them, or the test that finds none loaded by
// the tool would prove nothing. Exit code: how many could not be loaded.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    int missing = 0;
    for (int i = 1; i < argc; ++i)
        if (!LoadLibraryA(argv[i])) {
            std::fprintf(stderr, "%s: error %lu\n", argv[i], GetLastError());
            ++missing;
        }
    return missing;
}
