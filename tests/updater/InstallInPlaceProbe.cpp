// Answers whether the bundle named on the command line could be replaced in
// place by this user: "yes" or "no". Tests run it with lowered privileges.
#include "updater/UpdateEngine.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    std::puts(UpdateEngine::canInstallInPlace(QString::fromLocal8Bit(argv[1])) ? "yes" : "no");
    return 0;
}
