// The device namespace: which device node a COM port name stands for.
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include "platform/posix/com_names.h"

bool com_device_path(LPCSTR name, char* path, size_t size) {
    if (!name) return false;
    if (name[0] == '\\' && name[1] == '\\' && name[2] == '.' && name[3] == '\\') name += 4;
    if (strncasecmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9' || name[4] != '\0')
        return false;
    int number = name[3] - '0';
    char variable[] = "TIVLINK_COMn";
    variable[sizeof variable - 2] = name[3];
    const char* configured = getenv(variable);
    int len = configured && *configured ? snprintf(path, size, "%s", configured)
                                        : snprintf(path, size, "/dev/ttyS%d", number - 1);
    return len > 0 && (size_t)len < size;
}
