#include <cstdio>

#include "tools/qovtool/Commands.h"

int QovToolInfo(int, char**) {
    std::printf("QOV scene library\n");
    return 0;
}
