/* Loads tivlink.dll by name, checks that its export table holds exactly the
 * library's names, and resolves each of them with GetProcAddress. */
#define TIV_EXPORT_TABLE_ONLY
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "host.h"

struct tiv_exports tiv;

struct export_slot {
    const char* name;
    FARPROC* slot;
};

/* The library's whole export table, by exact name. */
static const struct export_slot exports[] = {
    {"_init_tiv3", (FARPROC*)&tiv.init_tiv3},
    {"_exit_tiv3", (FARPROC*)&tiv.exit_tiv3},
    {"_tiv_frame_send", (FARPROC*)&tiv.tiv_frame_send},
    {"_set_serial", (FARPROC*)&tiv.set_serial},
    {"_set_group", (FARPROC*)&tiv.set_group},
    {"_firmware_reset", (FARPROC*)&tiv.firmware_reset},
    {"_load_e2_file", (FARPROC*)&tiv.load_e2_file},
    {"_download", (FARPROC*)&tiv.download},
    {"_set_rgbx", (FARPROC*)&tiv.set_rgbx},
    {"_fade_rgbx", (FARPROC*)&tiv.fade_rgbx},
    {"_xd_reset", (FARPROC*)&tiv.xd_reset},
    {"_xd_prog", (FARPROC*)&tiv.xd_prog},
    {"_e2_data", (FARPROC*)&tiv.e2_data},
    {"_e2_adr", (FARPROC*)&tiv.e2_adr},
    {"_e2_len", (FARPROC*)&tiv.e2_len},
    {"_e2_percent", (FARPROC*)&tiv.e2_percent},
    {"_e2_cmd", (FARPROC*)&tiv.e2_cmd},
};
enum { EXPORT_COUNT = sizeof exports / sizeof exports[0] };

static int is_library_export(const char* name) {
    for (int i = 0; i < EXPORT_COUNT; i++)
        if (strcmp(exports[i].name, name) == 0) return 1;
    return 0;
}

static const IMAGE_EXPORT_DIRECTORY* export_directory(HMODULE module) {
    const BYTE* base = (const BYTE*)module;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return NULL;
    const IMAGE_NT_HEADERS32* nt = (const IMAGE_NT_HEADERS32*)(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->FileHeader.Machine != IMAGE_FILE_MACHINE_I386 ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return NULL;
    const IMAGE_DATA_DIRECTORY* dir = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir->VirtualAddress == 0 || dir->Size == 0) return NULL;
    return (const IMAGE_EXPORT_DIRECTORY*)(base + dir->VirtualAddress);
}

/* Every named entry must be one of ours and every one of ours present; no
 * entry may be reachable by ordinal only. */
static int export_table_is_exact(HMODULE module, int list_exports) {
    const IMAGE_EXPORT_DIRECTORY* dir = export_directory(module);
    if (!dir) {
        printf("FAIL: no 32-bit i386 export directory\n");
        return 0;
    }
    const BYTE* base = (const BYTE*)module;
    const DWORD* names = (const DWORD*)(base + dir->AddressOfNames);
    int exact = 1;
    for (DWORD i = 0; i < dir->NumberOfNames; i++) {
        const char* name = (const char*)(base + names[i]);
        if (list_exports) printf("export %s\n", name);
        if (!is_library_export(name)) {
            printf("FAIL: unexpected export %s\n", name);
            exact = 0;
        }
    }
    if (dir->NumberOfNames != EXPORT_COUNT || dir->NumberOfFunctions != EXPORT_COUNT) {
        printf("FAIL: %lu names, %lu entries, want %d\n", (unsigned long)dir->NumberOfNames,
               (unsigned long)dir->NumberOfFunctions, EXPORT_COUNT);
        exact = 0;
    }
    return exact;
}

static int resolve_exports(HMODULE module) {
    int all = 1;
    for (int i = 0; i < EXPORT_COUNT; i++) {
        *exports[i].slot = GetProcAddress(module, exports[i].name);
        if (!*exports[i].slot) {
            printf("FAIL: missing export %s\n", exports[i].name);
            all = 0;
        }
    }
    return all;
}

int bind_library(int list_exports) {
    HMODULE module = LoadLibraryA("tivlink.dll");
    if (!module) {
        printf("FAIL: LoadLibraryA(tivlink.dll) error %lu\n", (unsigned long)GetLastError());
        return 0;
    }
    int exact = export_table_is_exact(module, list_exports);
    int resolved = resolve_exports(module);
    /* The module stays loaded for the life of the process. */
    return exact && resolved;
}
