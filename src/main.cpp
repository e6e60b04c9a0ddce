#include <cstdio>

int main()
{
    std::fputs("voskel: the application's window and diagnostic modes are not built yet.\n", stderr);
    return 1;
}
