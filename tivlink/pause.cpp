#include "tivlink/connection.h"

void tiv_pause(uint32_t milliseconds) { Sleep(milliseconds); }
