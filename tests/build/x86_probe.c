/* Run by scripts/x86-probe: if this prints its line, x86 code runs here. */
#include <stdio.h>

int main(void) {
    puts("qx748 x86 probe");
    return 0;
}
