// Reads one element past a heap block on purpose: AddressSanitizer must stop it.
#include <cstdio>

int main(int argc, char**) {
    int* block = new int[4]();
    const int value = block[3 + argc]; // argc is 1: index 4
    delete[] block;
    std::printf("read %d past the end\n", value);
    return 0;
}
