// Built against an installed Tavrin, once through find_package(Tavrin) and
// once through pkg-config: proves that the installed headers compile on
// their own and that the module links and runs from its install prefix.

#include "tavrin.h"
#include "tavrin_port_bytes.h"
#include "tavrin_version.h"

#include <cstdio>

int main()
{
    // X addresses are octal: X17 is the sixteenth input, register index 15.
    const qint32 index = AddrStringToInt(QStringLiteral("X"), QStringLiteral("17"));
    if (index != 15) {
        std::fprintf(stderr, "AddrStringToInt(\"X\", \"17\") gave %d, expected 15\n", index);
        return 1;
    }
    std::printf("Tavrin %s: X17 is register index %d\n", TAVRIN_VERSION_STRING, index);
    return 0;
}
