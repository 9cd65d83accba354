/* Linked into a deliberately broken copy of the DLL: one import from a
 * module the library must not depend on. */
#include <windows.h>

void broken_extra_import(void) { RegCloseKey(HKEY_CURRENT_USER); }
