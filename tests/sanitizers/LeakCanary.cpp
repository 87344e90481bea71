// Loses a block on purpose: LeakSanitizer must report it at exit.
#include <cstdio>

int* volatile gKeep = nullptr;

int main() {
    gKeep = new int[16];
    gKeep[0] = 1;
    gKeep = nullptr; // the only pointer to the block is gone
    std::puts("leaked one block");
    return 0;
}
