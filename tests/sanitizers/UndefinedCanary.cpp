// Overflows a signed integer on purpose: UndefinedBehaviorSanitizer must
// report it and halt, so the line after it is never printed.
#include <climits>
#include <cstdio>

int main(int argc, char**) {
    volatile int big = INT_MAX;
    const int sum = big + argc;
    std::printf("went on after the error: %d\n", sum);
    return 0;
}
