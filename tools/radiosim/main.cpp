// Placeholder until the simulated radio lands.
#include <cstdio>
int main() {
    std::fputs("tavmirok-radiosim: not built yet\n", stderr);
    return 1;
}
